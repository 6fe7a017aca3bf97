// swap: an exchange by value changes only the function's own copies; an
// exchange through pointers changes the caller's variables.
#include <cstdio>

void swap(int x, int y);
void swap1(int *x, int *y);

int main()
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
    int map = *y;
    *y = *x;
    *x = map;
}
