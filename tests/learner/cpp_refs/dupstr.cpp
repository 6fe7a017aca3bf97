// dupstr in C++ with std::string: the copy is a string of its own.
#include <iostream>
#include <string>

#include "askline.h"

int main()
{
    string a;
    do {
        a = get_string(nullptr, "a: ");
        if (a == nullptr)
            return 1;
    } while (a[0] == '\0');
    std::string b = a;
    std::cout << a << "\n" << b << "\n";
    return 0;
}
