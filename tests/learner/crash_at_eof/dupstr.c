// dupstr that never looks for the end of input: strlen of a null line.
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
        b = malloc(strlen(a) + 1);
    } while (strlen(a) == 0);
    strcpy(b, a);
    printf("%s\n", a);
    printf("%s\n", b);
    return 0;
}
