// A struct with a string member, copied, and one name made long.
#include <cstdio>
#include <string>
#include <vector>

struct Person {
    std::string name;
    int age;
    std::vector<int> marks;
};

int main()
{
    Person p;
    p.name = "Ada";
    p.age = 36;
    p.marks.push_back(7);
    Person q = p;
    q.name = "Grace Brewster Murray Hopper";
    q.age = 85;
    printf("%s %d %s %zu\n", p.name.c_str(), p.age, q.name.c_str(), q.marks.size());
    return 0;
}
