// copy made "right": b becomes a real copy, so a keeps its small letter.
#include <ctype.h>
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
        b = get_string(NULL, "b: ");
        if (a == NULL || b == NULL)
            return 1;
    } while (strlen(a) == 0 || strlen(b) == 0);
    b = malloc(strlen(a) + 1);
    strcpy(b, a);
    b[0] = toupper((unsigned char)b[0]);
    printf("%s\n", a);
    printf("%s\n", b);
    free(b);
    return 0;
}
