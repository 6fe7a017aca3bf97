// memory, changed: the block is freed, then read and written through x.
#include <stdio.h>
#include <stdlib.h>

int main(void)
{
    int *x = malloc(3 * sizeof(int));
    x[0] = 1;
    x[1] = 2;
    free(x);
    int y = x[1];
    x[2] = 3;
    printf("%d\n", y);
    return 0;
}
