// compare: two lines are compared by their first characters only.
#include <cstdio>

#include "askline.h"

int main()
{
    string j = get_string(nullptr, "j: ");
    if (j == nullptr)
        return 1;
    string a = get_string(nullptr, "a: ");
    if (a == nullptr)
        return 1;

    // An empty line's first character is its closing zero byte.
    if (a[0] == j[0])
        printf("equal");
    else
        printf("different");
    return fflush(stdout) == 0 && !ferror(stdout) ? 0 : 1;  // all of it was written
}
