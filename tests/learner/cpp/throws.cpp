// A check that throws, and a catch that reads what it threw.
#include <iostream>
#include <stdexcept>

int half(int v)
{
    if (v % 2)
        throw std::invalid_argument("odd");
    return v / 2;
}

int main()
{
    int n = 0;
    try {
        n = half(8);
        n = half(n + 1);
    } catch (const std::exception &e) {
        std::cout << e.what() << " " << n << "\n";
    }
    return 0;
}
