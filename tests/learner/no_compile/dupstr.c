// dupstr with a typing mistake: it does not compile.
#include <stdio.h>

int main(void)
{
    printf("%s\n", a)
    return 0;
}
