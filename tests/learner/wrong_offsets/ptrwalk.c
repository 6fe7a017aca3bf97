// ptrwalk that prints moki + 1 twice, not moki + 2 and moki + 3: its output
// looks like addresses all the same.
#include <stdio.h>

typedef char *string;

int main(void)
{
    string moki = "mokica";
    printf("%p\n", (void *)moki);
    printf("%p\n", (void *)&moki[0]);
    printf("%c\n", moki[1]);
    printf("%p\n", (void *)(moki + 1));
    printf("%p\n", (void *)(moki + 1));
    return 0;
}
