// A learner's program whose picture was once wrong; kept as it was written.
#include <stdio.h>
#include <stdlib.h>

struct point {
    int x;
    int y;
};

int sum(const struct point *p)
{
    return p->x + p->y;
}

int main(void)
{
    struct point a = {3, 4};
    struct point *h = malloc(sizeof *h);
    h->x = 1;
    h->y = 2;
    const struct point *c = h;
    int s = sum(&a) + sum(c);
    printf("%d\n", s);
    free(h);
    return 0;
}
