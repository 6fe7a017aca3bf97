// A recursion counting its calls in a static.
#include <stdio.h>

int fact(int n) {
    static int calls = 0;
    calls++;
    if (n <= 1) {
        printf("calls so far: %d\n", calls);
        return 1;
    }
    return n * fact(n - 1);
}

int main(void) {
    int f = fact(4);
    printf("4! = %d\n", f);
    return 0;
}
