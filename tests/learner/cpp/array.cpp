// A std::array, copied, and a pointer into it.
#include <array>
#include <iostream>

int main() {
    std::array<int, 4> a = {1, 2, 3, 4};
    std::array<int, 4> b = a;
    b[0] = 99;
    int *p = a.data() + 2;
    *p = 30;
    std::cout << a[0] << " " << a[2] << " " << b[0] << " " << a.size() << "\n";
    return 0;
}
