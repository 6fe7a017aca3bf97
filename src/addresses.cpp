// addresses: a local variable lives at an address on the stack.
#include <cstdio>

int main()
{
    int n = 50;
    printf("%p\n", static_cast<void *>(&n));
    return 0;
}
