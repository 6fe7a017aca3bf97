// dupstr as most learners write it: the two pointers local to main, the
// copy left to the end of the program as the lesson's own leaves it: it passes.
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
    strcpy(b, a);
    printf("%s\n", a);
    printf("%s\n", b);
    return 0;
}
