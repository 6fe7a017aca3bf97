// dupstr one byte short, which checks its allocation as it should.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "askline.h"

int main(void)
{
    char *a, *b;
    do {
        a = get_string(NULL, "a: ");
        if (a == NULL)
            return 1;
        b = malloc(strlen(a));
        if (b == NULL)
            return 2;
    } while (strlen(a) == 0);
    strcpy(b, a);
    printf("%s\n%s\n", a, b);
    return 0;
}
