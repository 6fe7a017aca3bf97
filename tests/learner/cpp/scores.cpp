// A map from names to vectors of scores.
#include <iostream>
#include <map>
#include <string>
#include <vector>

int main() {
    std::map<std::string, std::vector<int>> scores;
    scores["bob"].push_back(3);
    scores["amy"].push_back(5);
    scores["amy"].push_back(8);
    int n = scores.size();
    std::cout << n << std::endl;
    return 0;
}
