// dupchars with its variables local to main, the copy made in a for loop: it passes.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "askline.h"

int main(void)
{
    char *a;
    char *b;
    do {
        a = get_string(NULL, "a: ");
        if (a == NULL)
            return 1;
        b = malloc(strlen(a) + 1);
        if (b == NULL)
            return 2;
    } while (strlen(a) == 0);
    for (size_t i = 0; i <= strlen(a); i++)
        b[i] = a[i];
    printf("%s\n", a);
    printf("%s\n", b);
    return 0;
}
