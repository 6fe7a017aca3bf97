// An array of pointers: each of its strings is reached, the last too,
// in an array of its own and in a struct's.
#include <stdio.h>

struct shelf {
    int count;
    const char *names[2];
};

int main(void)
{
    const char *names[3] = {"ann", "bob", "cy"};
    struct shelf s = {2, {"dee", "eve"}};
    for (int i = 0; i < 3; i++)
        printf("%s %s\n", names[i], s.names[i % 2]);
    return 0;
}
