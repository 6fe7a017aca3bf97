// A name in an array on the stack: the bytes after the closing zero are never set.
#include <stdio.h>
#include <string.h>

int main(void)
{
    char name[8];
    strcpy(name, "bob");
    char *p = name + 3;
    printf("%s %d\n", name, *p);
    return 0;
}
