// Writing into a string literal: read-only memory.
#include <stdio.h>

int main(void)
{
    char *s = "hello";
    printf("%s\n", s);
    s[0] = 'H';
    printf("%s\n", s);
    return 0;
}
