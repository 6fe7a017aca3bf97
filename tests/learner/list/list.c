// A list of three nodes, each reached from the one before.
#include <stdio.h>
#include <stdlib.h>

struct node {
    int value;
    struct node *next;
};

int main(void)
{
    struct node *head = NULL;
    for (int i = 3; i >= 1; i--) {
        struct node *n = malloc(sizeof *n);
        n->value = i;
        n->next = head;
        head = n;
    }
    for (struct node *p = head; p != NULL; p = p->next)
        printf("%d\n", p->value);
    return 0;
}
