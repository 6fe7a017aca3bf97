// The address of a local kept after its function returned.
#include <stdio.h>

int *keep(void)
{
    int x = 1000;
    int *p = &x;
    return p;
}

int main(void)
{
    int *q = keep();
    printf("%d\n", *q);
    return 0;
}
