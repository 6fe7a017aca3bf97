// ptrwalk: a string is the address of its first character, and adding to
// that address walks along the characters.
#include <cstdio>

typedef const char *string;  // a literal's characters are constant

int main()
{
    string moki = "mokica";
    printf("%p\n", static_cast<const void *>(moki));
    printf("%p\n", static_cast<const void *>(&moki[0]));
    printf("%c\n", moki[1]);
    printf("%p\n", static_cast<const void *>(moki + 2));
    printf("%p\n", static_cast<const void *>(moki + 3));
    return fflush(stdout) == 0 && !ferror(stdout) ? 0 : 1;  // all of it was written
}
