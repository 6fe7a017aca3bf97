// A learner's program whose picture was once wrong; kept as it was written.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct person {
    char name[12];
    int age;
    struct person *friend;
};

int main(void)
{
    struct person *people = calloc(2, sizeof(struct person));
    strcpy(people[0].name, "ann");
    people[0].age = 30;
    strcpy(people[1].name, "bob");
    people[1].age = 31;
    people[0].friend = &people[1];
    people[1].friend = &people[0];
    int *agep = &people[1].age;
    *agep += 1;
    printf("%s %d\n", people[0].friend->name, people[1].age);
    free(people);
    return 0;
}
