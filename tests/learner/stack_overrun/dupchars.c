// dupchars with the copy in an array of 2 bytes on the stack: the loop
// writes "hi"'s zero byte past its end.
#include <stdio.h>
#include <string.h>

#include "askline.h"

int main(void)
{
    char *a;
    char b[2];
    do {
        a = get_string(NULL, "a: ");
        if (a == NULL)
            return 1;
    } while (strlen(a) == 0);
    for (size_t i = 0; i <= strlen(a) && i < 3; i++)
        b[i] = a[i];
    printf("%s\n", a);
    printf("%.2s\n", b);
    return 0;
}
