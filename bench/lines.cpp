// Reads standard input to its end one line at a time, keeping or not, and
// prints the number of lines on standard error; bench/run times the whole
// process, exit included:
//   lines askline   get_string with an empty prompt (every line kept until exit)
//   lines prompted  get_string with the prompt "a: ", flushed before each read
//   lines getline   a plain getline loop reusing one buffer
//   lines keep      getline plus an exact-size malloc copy of every line, kept
//   lines loop      the cheapest correct prompted loop: fputs and fflush of
//                   "a: ", then getline and a kept exact-size copy
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "askline.h"

int main(int argc, char *argv[])
{
    std::string mode = argc > 1 ? argv[1] : "";
    size_t lines = 0;
    if (mode == "askline" || mode == "prompted") {
        const char *prompt = mode == "prompted" ? "a: " : "";
        while (get_string(nullptr, prompt) != nullptr)
            lines++;
    } else if (mode == "getline" || mode == "keep" || mode == "loop") {
        char *buf = nullptr;
        size_t cap = 0;
        std::vector<char *> kept;
        for (;; lines++) {
            if (mode == "loop") {
                fputs("a: ", stdout);
                fflush(stdout);
            }
            ssize_t n = getline(&buf, &cap, stdin);
            if (n < 0)
                break;
            if (mode != "getline") {
                auto *s = static_cast<char *>(malloc(static_cast<size_t>(n) + 1));
                memcpy(s, buf, static_cast<size_t>(n) + 1);
                kept.push_back(s);
            }
        }
        free(buf);
    } else {
        fprintf(stderr, "usage: lines askline|prompted|getline|keep|loop <input\n");
        return 2;
    }
    fprintf(stderr, "%zu\n", lines);
    return 0;
}
