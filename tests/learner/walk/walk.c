// Pointers walking an array and argv, and one left just past an array.
#include <stdio.h>

int main(int argc, char **argv)
{
    int scores[5] = {3, 1, 4, 1, 5};
    int sum = 0;
    int *p;
    for (p = scores; p < scores + 5; p++)
        sum += *p;
    int local[3] = {7, 8, 9};
    int *lend = local + 3;
    char **arg;
    for (arg = argv; *arg != NULL; arg++)
        printf("%s\n", *arg);
    printf("%d %d %d\n", sum, *(lend - 1), argc);
    return 0;
}
