// copy in C++: b is a reference to a, another name for the same line.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "askline.h"

int main()
{
    string a;
    string b2;
    do {
        a = get_string(nullptr, "a: ");
        if (a == nullptr)
            return 1;
        b2 = get_string(nullptr, "b: ");
        if (b2 == nullptr)
            return 1;
    } while (strlen(a) == 0 || strlen(b2) == 0);
    string &b = a;
    b[0] = static_cast<char>(toupper(static_cast<unsigned char>(b[0])));
    printf("%s\n", a);
    printf("%s\n", b);
    return 0;
}
