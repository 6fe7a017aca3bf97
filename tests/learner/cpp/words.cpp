// A vector of strings, one of them named again by a reference.
#include <iostream>
#include <string>
#include <vector>

int main()
{
    std::vector<std::string> words;
    words.push_back("hi");
    words.push_back("a rather long word here");
    words.push_back("end");
    std::string &last = words.back();
    last = "END";
    std::cout << words.size() << " " << words[0] << " " << words[2] << "\n";
    return 0;
}
