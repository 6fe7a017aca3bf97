// A vector grows past its capacity: a new block, the old one freed.
#include <iostream>
#include <vector>

int main()
{
    std::vector<int> v;
    for (int i = 1; i <= 5; i++)
        v.push_back(i * 11);
    int &first = v[0];
    first = 7;
    std::cout << v.size() << " " << v.capacity() << " " << v[0] << "\n";
    return 0;
}
