// addresses: a local variable lives at an address on the stack.
#include <cstdio>

int main()
{
    int n = 50;
    printf("%p\n", static_cast<void *>(&n));
    return fflush(stdout) == 0 && !ferror(stdout) ? 0 : 1;  // all of it was written
}
