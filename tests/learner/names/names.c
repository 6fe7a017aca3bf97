// An array of pointers: each of its strings is reached, the last too.
#include <stdio.h>

int main(void)
{
    const char *names[3] = {"ann", "bob", "cy"};
    for (int i = 0; i < 3; i++)
        printf("%s\n", names[i]);
    return 0;
}
