// memory with its twelve bytes as twelve blocks of one byte: as many bytes
// left as the lesson's, in twelve blocks, not one.
#include <stdlib.h>

int main(void)
{
    for (int i = 0; i < 12; i++) {
        char *x = malloc(1);
        if (x == NULL)
            return 2;
        *x = (char)i;
    }
    return 0;
}
