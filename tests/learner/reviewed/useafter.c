// A learner's program whose picture was once wrong; kept as it was written.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

char *make(const char *s)
{
    char *copy = malloc(strlen(s) + 1);
    strcpy(copy, s);
    return copy;
}

int main(void)
{
    char *a = make("hey");
    char *b = a;
    free(a);
    printf("%c\n", b[0]);
    a = make("yo");
    printf("%s\n", a);
    free(a);
    return 0;
}
