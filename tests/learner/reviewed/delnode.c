// A learner's program whose picture was once wrong; kept as it was written.
#include <stdio.h>
#include <stdlib.h>

struct node { int val; struct node *next; };

struct node *push(struct node *head, int v) {
    struct node *n = malloc(sizeof *n);
    n->val = v;
    n->next = head;
    return n;
}

int main(void) {
    struct node *head = NULL;
    for (int i = 1; i <= 4; i++) head = push(head, i * 10);
    /* delete the middle node holding 20 */
    struct node *prev = head;
    while (prev->next->val != 20) prev = prev->next;
    struct node *gone = prev->next;
    prev->next = gone->next;
    free(gone);
    /* delete the head */
    struct node *old = head;
    head = head->next;
    free(old);
    for (struct node *p = head; p; p = p->next) printf("%d ", p->val);
    printf("\n");
    return 0;
}
