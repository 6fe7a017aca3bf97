// A list and a map: each element in a node of its own.
#include <cstdio>
#include <list>
#include <map>
#include <string>

int main()
{
    std::list<int> l;
    l.push_back(2);
    l.push_back(3);
    l.push_front(1);
    auto it = l.begin();
    std::map<std::string, int> ages;
    ages["bob"] = 31;
    ages["ann"] = 27;
    ages["bob"]++;
    printf("%zu %d %d\n", l.size(), *it, ages["bob"]);
    return 0;
}
