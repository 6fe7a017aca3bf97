// swap through references: a and b are other names for main's x and y.
#include <cstdio>

void swap(int &a, int &b)
{
    int t = a;
    a = b;
    b = t;
}

int main()
{
    int x = 1;
    int y = 2;
    int &r = x;
    swap(x, y);
    r = 5;
    printf("x=%i,y=%i\n", x, y);
    return 0;
}
