// A byte half set, an int half set, a pointer never set.
#include <stdio.h>

struct flags {
    unsigned int on : 1;
    unsigned int rest : 7;
};

int main(void)
{
    struct flags f;
    int n;
    int *never;
    f.on = 1;
    *(char *)&n = 7;
    never = NULL;
    printf("%d\n", f.on + (never == NULL));
    return 0;
}
