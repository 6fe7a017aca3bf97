// memory whose block holds a pointer to another block: the first is lost,
// as the lesson's is, and the second with it, only indirectly.
#include <stdlib.h>

int main(void)
{
    int **x = malloc(12);
    if (x == NULL)
        return 2;
    x[0] = malloc(sizeof(int));
    if (x[0] == NULL)
        return 2;
    *x[0] = 3;
    return 0;
}
