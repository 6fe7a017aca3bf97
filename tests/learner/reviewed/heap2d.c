// A learner's program whose picture was once wrong; kept as it was written.
#include <stdio.h>
#include <stdlib.h>

int main(void)
{
    int (*m)[3] = malloc(2 * sizeof *m);
    for (int r = 0; r < 2; r++)
        for (int c = 0; c < 3; c++)
            m[r][c] = r * 3 + c;
    int *before = &m[0][0] - 1;
    printf("%d %p\n", m[1][2], (void *)before);
    free(m);
    return 0;
}
