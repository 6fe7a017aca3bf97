// dupstr as a learner writes it from the lesson, in C: it passes.
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
        if (b == NULL)
            return 2;
    } while (strlen(a) == 0);
    strcpy(b, a);
    printf("%s\n", a);
    printf("%s\n", b);
    return 0;
}
