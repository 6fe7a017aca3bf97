// dupchars that ends with status 0 at the end of input: the collection's
// own choice is 1, so this gets advice, and passes.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "askline.h"

char *a;
char *b;

int main(void)
{
    do {
        a = get_string(NULL, "a: ");
        if (a == NULL)
            return 0;
        b = malloc(strlen(a) + 1);
        if (b == NULL)
            return 2;
    } while (strlen(a) == 0);
    for (size_t i = 0; i <= strlen(a); i++)
        b[i] = a[i];
    printf("%s\n%s\n", a, b);
    return 0;
}
