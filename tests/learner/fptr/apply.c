// Functions passed as pointers, and an array of them.
#include <stdio.h>

int add(int a, int b) { return a + b; }
int mul(int a, int b) { return a * b; }

int apply(int (*f)(int, int), int x, int y) {
    int r = f(x, y);
    return r;
}

int main(void) {
    int (*op)(int, int) = add;
    int s = apply(op, 3, 4);
    op = mul;
    int p = apply(op, 3, 4);
    int (*ops[2])(int, int) = { add, mul };
    printf("%d %d %d\n", s, p, ops[1](2, 5));
    return 0;
}
