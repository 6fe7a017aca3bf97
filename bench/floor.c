/* The start-up floor the programs are measured against: a C program that
 * prints what swap prints, built by the same recipe. */
#include <stdio.h>

int main(void)
{
    printf("x=%i,y=%i\n", 1, 2);
    printf("x=%i,y=%i\n", 1, 2);
    printf("x=%i,y=%i\n", 2, 1);
    return 0;
}
