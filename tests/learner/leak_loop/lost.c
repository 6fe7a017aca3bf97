// Twelve blocks lost in a loop, most of them in passes not drawn.
#include <stdlib.h>

char *keep;

int main(void)
{
    for (int i = 0; i < 12; i++) {
        int *p = malloc(sizeof(int) * (i + 1));
        p[0] = i;
    }
    keep = malloc(3);
    return 0;
}
