// A second try at dupstr, in a file not named after it: checked as
// ./check dupstr version2.c. It allocates one byte too few.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "askline.h"

int main(void)
{
    char *a;
    do {
        a = get_string(NULL, "a: ");
        if (a == NULL)
            return 1;
    } while (strlen(a) == 0);
    char *b = malloc(strlen(a));
    if (b == NULL)
        return 2;
    strcpy(b, a);
    printf("%s\n%s\n", a, b);
    free(b);
    return 0;
}
