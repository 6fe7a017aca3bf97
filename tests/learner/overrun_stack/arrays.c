// Writes past an array of main and past a global array: memcheck sees neither.
#include <stdio.h>

int g[3];

int main(void)
{
    int a[4];
    for (int i = 0; i <= 4; i++)
        a[i] = i;
    g[3] = 1;
    printf("%d %d\n", a[0], g[0]);
    return 0;
}
