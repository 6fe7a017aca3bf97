// memory, changed: a write through a null pointer after the block is filled.
#include <cstdio>
#include <cstdlib>

int main()
{
    int *x = static_cast<int *>(malloc(3 * sizeof(int)));
    x[0] = 1;
    printf("filled");
    *(int *)nullptr = 4;
    return 0;
}
