// A learner's program whose picture was once wrong; kept as it was written.
#include <stdio.h>
#include <stdbool.h>

typedef struct {
    int x, y;
} Point;

enum color { RED, GREEN = 5, BLUE };

struct flags {
    unsigned int ready : 1;
    unsigned int mode : 3;
    unsigned int count : 4;
};

int total(int arr[], int n)
{
    int s = 0;
    for (int i = 0; i < n; i++)
        s += arr[i];
    return s;
}

int main(void)
{
    int nums[3] = {4, 5, 6};
    Point p = {1, 2};
    Point *pp = &p;
    enum color c = GREEN;
    bool ok = true;
    struct flags f = {0};
    f.mode = 5;
    f.count = 9;
    pp->y = total(nums, 3);
    c = BLUE;
    ok = !ok;
    printf("%d %d %d %u\n", pp->y, c, ok, f.count);
    return 0;
}
