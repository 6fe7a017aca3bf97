// A write three bytes past the end of a block: not at its first byte past.
#include <stdlib.h>

int main(void)
{
    char *p = malloc(5);
    p[8] = 'x';
    p[0] = 'a';
    return 0;
}
