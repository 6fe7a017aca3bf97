// A short string lives inside the object; a long one in a heap block.
#include <iostream>
#include <string>

int main()
{
    std::string name = "hello";
    std::string line = "a line too long for the object itself";
    name += "!";
    std::cout << name << " " << line << "\n";
    return 0;
}
