// A learner's program whose picture was once wrong; kept as it was written.
#include <stdio.h>
#include <stdlib.h>

struct node {
    int value;
    struct node *next;
};

int main(void)
{
    struct node *n = malloc(sizeof(struct node *));
    n->value = 1;
    n->next = NULL;
    printf("%d\n", n->value);
    free(n);
    return 0;
}
