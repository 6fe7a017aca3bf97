// addresses, changed: a loop that never ends.
#include <cstdio>

int main()
{
    int n = 50;
    printf("%p\n", static_cast<void *>(&n));
    for (;;) {
    }
    return 0;
}
