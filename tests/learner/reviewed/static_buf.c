// A learner's program whose picture was once wrong; kept as it was written.
#include <stdio.h>

static const int table[4] = {10, 20, 30, 40};

int *history(int v)
{
    static int hist[3];
    static int count = 0;
    hist[count % 3] = v;
    count++;
    return hist;
}

int main(void)
{
    const int *t = &table[2];
    int *h = history(5);
    history(6);
    h = history(7);
    printf("%d %d %d\n", *t, h[0], h[2]);
    return 0;
}
