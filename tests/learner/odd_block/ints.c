// Blocks that hold no whole number of ints: 3 bytes, then 6.
#include <stdlib.h>

int main(void)
{
    int *x = malloc(3);
    x[0] = 1;
    int *y = malloc(6);
    y[0] = 2;
    y[1] = 3;
    return 0;
}
