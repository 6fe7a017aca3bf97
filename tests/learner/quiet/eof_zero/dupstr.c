// dupstr that ends with status 0 at the end of input: its output is right.
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
            return 0;
        b = malloc(strlen(a) + 1);
        if (b == NULL)
            return 2;
    } while (strlen(a) == 0);
    strcpy(b, a);
    printf("%s\n%s\n", a, b);
    return 0;
}
