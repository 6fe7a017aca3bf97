// Warnings on standard error, the result on standard output.
#include <stdio.h>

int main(void)
{
    int n = 3;
    printf("counting to %d\n", n);
    fprintf(stderr, "warning: %d is small\n", n);
    for (int i = 1; i <= n; i++)
        printf("%d\n", i);
    fputs("done\n", stderr);
    return 0;
}
