// swap whose swap1 exchanges its own two pointers, not what they point to.
#include <stdio.h>

void swap(int x, int y);
void swap1(int *x, int *y);

int main(void)
{
    int x = 1;
    int y = 2;
    printf("x=%i,y=%i\n", x, y);
    swap(x, y);
    printf("x=%i,y=%i\n", x, y);
    swap1(&x, &y);
    printf("x=%i,y=%i\n", x, y);
    return 0;
}

void swap(int x, int y)
{
    int map = y;
    y = x;
    x = map;
}

void swap1(int *x, int *y)
{
    int *map = y;
    y = x;
    x = map;
}
