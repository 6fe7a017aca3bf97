// One overflow C leaves undefined, among wraps it defines.
#include <stdio.h>
#include <limits.h>

int main(void) {
    int big = INT_MAX;
    int next = big + 1;
    unsigned char c = 250;
    c = c + 10;
    short s = 32767;
    s++;
    unsigned int u = 0;
    u = u - 1;
    printf("%d %d %u %d %u\n", big, next, c, s, u);
    return 0;
}
