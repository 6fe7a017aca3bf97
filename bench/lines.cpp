// Reads standard input to its end one line at a time and prints the seconds
// it took, the peak resident memory in KiB and the number of lines:
//   lines askline   get_string with an empty prompt (every line kept until exit)
//   lines getline   a plain getline loop reusing one buffer
//   lines keep      getline plus an exact-size malloc copy of every line, kept
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <sys/resource.h>

#include "askline.h"

int main(int argc, char *argv[])
{
    std::string mode = argc > 1 ? argv[1] : "";
    timespec t0;
    timespec t1;
    size_t lines = 0;
    clock_gettime(CLOCK_MONOTONIC, &t0);
    if (mode == "askline") {
        while (get_string(nullptr, "") != nullptr)
            lines++;
    } else if (mode == "getline" || mode == "keep") {
        char *buf = nullptr;
        size_t cap = 0;
        std::vector<char *> kept;
        for (ssize_t n; (n = getline(&buf, &cap, stdin)) >= 0; lines++) {
            if (mode == "keep") {
                auto *s = static_cast<char *>(malloc(static_cast<size_t>(n) + 1));
                memcpy(s, buf, static_cast<size_t>(n) + 1);
                kept.push_back(s);
            }
        }
        free(buf);
    } else {
        fprintf(stderr, "usage: lines askline|getline|keep <input\n");
        return 2;
    }
    clock_gettime(CLOCK_MONOTONIC, &t1);
    rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    double secs = static_cast<double>(t1.tv_sec - t0.tv_sec) + (t1.tv_nsec - t0.tv_nsec) / 1e9;
    fprintf(stderr, "%.6f %ld %zu\n", secs, ru.ru_maxrss, lines);
    return 0;
}
