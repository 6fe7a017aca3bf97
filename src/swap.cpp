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
    return fflush(stdout) == 0 && !ferror(stdout) ? 0 : 1;  // all of it was written
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
