// swap, changed: swap1 called six times in a row, in no loop.
#include <stdio.h>

void swap1(int *x, int *y);

int main(void)
{
    int x = 1;
    int y = 2;
    swap1(&x, &y);
    swap1(&x, &y);
    swap1(&x, &y);
    swap1(&x, &y);
    swap1(&x, &y);
    swap1(&x, &y);
    printf("x=%i,y=%i\n", x, y);
    return 0;
}

void swap1(int *x, int *y)
{
    int map = *y;
    *y = *x;
    *x = map;
}
