// Subscripts that change what they read: drawing them must not run them
// again (n would count twice, next would be called twice).
#include <stdio.h>

static int calls;

static int next(void)
{
    return calls++;
}

int main(void)
{
    int a[3] = {0, 0, 0};
    int n = 0;
    a[n++] = 1;
    a[n++] = 2;
    a[next()] += 5;
    printf("%d %d %d %d %d\n", a[0], a[1], a[2], n, calls);
    return 0;
}
