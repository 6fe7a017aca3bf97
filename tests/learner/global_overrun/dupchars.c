// dupchars with the copy in a global array of 2 bytes: "hi" and its zero
// need 3, and the loop writes the third past the end. memcheck cannot see
// it: the output is right.
#include <stdio.h>
#include <string.h>

#include "askline.h"

char *a;
char b[2];

int main(void)
{
    do {
        a = get_string(NULL, "a: ");
        if (a == NULL)
            return 1;
    } while (strlen(a) == 0);
    for (size_t i = 0; i <= strlen(a) && i < 3; i++)
        b[i] = a[i];
    printf("%s\n", a);
    printf("%.2s\n", b);
    return 0;
}
