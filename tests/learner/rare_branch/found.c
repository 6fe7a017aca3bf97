// A branch taken once, late in a loop: its line is drawn, and the passes
// left out are said to be the for loop's.
#include <stdio.h>

int main(void)
{
    int sum = 0;
    int found = -1;
    for (int i = 0; i < 10; i++) {
        if (i == 7)
            found = i;
        sum += i;
    }
    printf("%d %d\n", sum, found);
    return 0;
}
