// memory: a heap block for three integers, filled and never freed.
#include <cstdlib>

int main()
{
    int *x = static_cast<int *>(malloc(3 * sizeof(int)));  // 12 bytes
    if (x == nullptr)
        return 2;
    x[0] = 1;
    x[1] = 2;
    x[2] = 3;
    return 0;
}
