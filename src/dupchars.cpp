// dupchars: a copy of a line made by hand, one character at a time.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "askline.h"

char *a;
char *b;

int main()
{
    do {
        a = get_string(nullptr, "a: ");
        if (a == nullptr)
            return 1;
        b = static_cast<char *>(malloc(strlen(a) + 1));
        if (b == nullptr)
            return 2;
    } while (strlen(a) == 0);

    // size_t, not int: a line longer than 2 GiB is copied whole too.
    size_t c = strlen(a);
    for (size_t i = 0; i <= c; i++)  // <= moves the closing zero byte as well
        b[i] = a[i];

    printf("%s\n", a);
    printf("%s\n", b);
    return fflush(stdout) == 0 && !ferror(stdout) ? 0 : 1;  // all of it was written
}
