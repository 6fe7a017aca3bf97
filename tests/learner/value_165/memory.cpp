// memory, changed: a value that happens to be the byte 0xA5, and the block freed.
#include <cstdlib>

int main()
{
    int *x = static_cast<int *>(malloc(3 * sizeof(int)));
    x[0] = 1;
    x[1] = 165;
    x[2] = 3;
    free(x);
    return 0;
}
