// Pointers into a struct's members, and lines whose & and - are no
// address-of and no pointer arithmetic; an unnamed union and unnamed
// structs inside named ones.
#include <stdlib.h>

struct pair {
    int a;
    int b[3];
};

struct anon {
    int k;
    union {
        int i;
        float f;
    };
};

struct rec {
    struct {
        int a;
    } one;
    struct {
        char b[2];
        double c;
    } two;
};

int main(void)
{
    struct pair p = {1, {2, 3, 4}};
    int *pa = &p.a;
    int *pb = &p.b[1];
    struct pair *h = malloc(sizeof *h);
    int *hb = &h->b[1];
    int mask = 6;
    int y = *pb - 4;
    int x = y & mask;
    struct anon u = {1, {2}};
    struct rec r = {{3}, {{'h', 'i'}, 2.5}};
    if (x && y)
        x = u.i + r.one.a;
    free(h);
    return *pa - 1 + (hb == NULL);
}
