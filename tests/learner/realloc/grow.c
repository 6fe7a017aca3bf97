// A block grown by realloc, a pointer left at its old place, one moved with
// no name left at it, a union, and a free of the same block twice.
#include <stdlib.h>

struct point {
    int x, y;
};

union word {
    int number;
    char bytes[4];
};

struct shape {
    struct point corner;
    union word tag;
};

int main(void)
{
    struct shape s = {{1, 2}, {0}};
    s.tag.bytes[0] = 'a';
    int *a = malloc(2 * sizeof(int));
    a[0] = 7;
    int *old = a;
    a = realloc(a, 1000 * sizeof(int));
    int *far = (int *)16;
    int *c = malloc(sizeof *c);
    c = realloc(c, 100 * sizeof *c);
    free(c);
    free(a);
    free(a); /* again */
    return old == far;
}
