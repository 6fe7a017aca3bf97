// dupstr: a copy of a line is a block of its own, made with strcpy.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "askline.h"

char *a;
char *b;

int main()
{
    // Every pass allocates a copy block, also for an empty line; the blocks
    // of passes that ask again are never freed.
    do {
        a = get_string(nullptr, "a: ");
        if (a == nullptr)
            return 1;
        b = static_cast<char *>(malloc(strlen(a) + 1));
        if (b == nullptr)
            return 2;
    } while (strlen(a) == 0);

    strcpy(b, a);
    printf("%s\n", a);
    printf("%s\n", b);
    return fflush(stdout) == 0 && !ferror(stdout) ? 0 : 1;  // all of it was written
}
