// A byte set to '?' beside bytes never set, and beside zero bytes.
#include <stdio.h>
#include <stdlib.h>

int main(void)
{
    char q[6] = "why";
    char *r = malloc(4);
    q[3] = '?';
    r[0] = '?';
    printf("%s %c\n", q, r[0]);
    return 0;
}
