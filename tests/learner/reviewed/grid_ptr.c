// A learner's program whose picture was once wrong; kept as it was written.
#include <stdio.h>

int main(void)
{
    int grid[2][3] = {{1, 2, 3}, {4, 5, 6}};
    int *q = &grid[1][2];
    *q = 60;
    int *flat = &grid[0][0];
    flat[4] = 50;
    printf("%d %d\n", grid[1][2], grid[1][1]);
    return 0;
}
