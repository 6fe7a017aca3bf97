// An array of objects with a destructor, made by new[], one too many written.
#include <cstdio>

class Box {
public:
    int id;
    Box() : id(0) { }
    ~Box() { printf("bye %d\n", id); }
};

int main()
{
    Box *boxes = new Box[3];
    for (int i = 0; i <= 3; i++)
        boxes[i].id = i + 1;
    Box *second = &boxes[1];
    second->id = 20;
    delete[] boxes;
    return 0;
}
