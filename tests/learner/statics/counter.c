// A static local keeps its value between calls; sizeof is no pointer.
#include <stdio.h>

int counter(void)
{
    static int count = 0;
    count++;
    return count;
}

int main(void)
{
    char name[] = "bob";
    int n = sizeof name - 1;
    counter();
    counter();
    printf("%d %d\n", counter(), n);
    return 0;
}
