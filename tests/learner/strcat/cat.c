// A name appended to a greeting with no room for it.
#include <stdio.h>
#include <string.h>

int main(void) {
    int guard = 42;
    char greet[8] = "Hi ";
    char name[16] = "Christopher";
    strcat(greet, name);
    printf("%s\n", greet);
    printf("guard=%d\n", guard);
    return 0;
}
