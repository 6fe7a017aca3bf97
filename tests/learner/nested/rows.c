#include <stdio.h>
#include <stdlib.h>

int main(void)
{
    int rows = 5, cols = 3;
    int **m = malloc(rows * sizeof(int *));
    for (int r = 0; r < rows; r++) {
        m[r] = malloc(cols * sizeof(int));
        for (int c = 0; c < cols; c++)
            m[r][c] = r * c;
    }
    printf("%d\n", m[4][2]);
    for (int k = 0; k < rows; k++)
        free(m[k]);
    free(m);
    return 0;
}
