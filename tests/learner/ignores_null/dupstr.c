// dupstr that never looks at what malloc returned: when no block can be
// had, strcpy writes through a null pointer.
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
    char *b = malloc(strlen(a) + 1);
    strcpy(b, a);
    printf("%s\n", a);
    printf("%s\n", b);
    return 0;
}
