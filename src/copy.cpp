// copy: b = a gives the line a second name, not a second copy; changing the
// line through b changes what a shows.
#include <cctype>
#include <cstdio>
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
        b = get_string(nullptr, "b: ");
        if (b == nullptr)
            return 1;
    } while (strlen(a) == 0 || strlen(b) == 0);

    b = a;
    // toupper takes the byte as unsigned char: a negative char is undefined.
    b[0] = static_cast<char>(toupper(static_cast<unsigned char>(b[0])));

    printf("%s\n", a);
    printf("%s\n", b);
    return fflush(stdout) == 0 && !ferror(stdout) ? 0 : 1;  // all of it was written
}
