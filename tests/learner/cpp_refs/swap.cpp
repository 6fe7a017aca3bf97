// swap as a learner writes it in C++: the third exchange through references.
#include <cstdio>

void swap(int x, int y)
{
    int t = x;
    x = y;
    y = t;
}

void swap1(int &x, int &y)
{
    int t = x;
    x = y;
    y = t;
}

int main()
{
    int x = 1;
    int y = 2;
    printf("x=%i,y=%i\n", x, y);
    swap(x, y);
    printf("x=%i,y=%i\n", x, y);
    swap1(x, y);
    printf("x=%i,y=%i\n", x, y);
    return 0;
}
