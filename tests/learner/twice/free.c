// A block freed twice: valgrind goes on, a plain run stops.
#include <stdlib.h>

int main(void)
{
    char *p = malloc(4);
    free(p);
    free(p);
    return 0;
}
