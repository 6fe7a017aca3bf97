// A learner's program whose picture was once wrong; kept as it was written.
#include <stdio.h>

int main(void)
{
    int grid[3][4];
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 4; c++)
            grid[r][c] = r * 10 + c;
    int *row1 = grid[1];
    int (*rowp)[4] = &grid[2];
    printf("%d %d %d\n", grid[2][3], row1[2], (*rowp)[0]);
    return 0;
}
