// dupchars whose loop stops one short: the closing zero is never copied.
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
            return 1;
        b = malloc(strlen(a) + 1);
    } while (strlen(a) == 0);
    int c = strlen(a);
    for (int i = 0; i < c; i++)
        b[i] = a[i];
    printf("%s\n", a);
    printf("%s\n", b);
    return 0;
}
