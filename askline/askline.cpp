#include "askline.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

// A program started with descriptor 0, 1 or 2 closed would hand that number
// to the first file it opens, and its prompts would be written into that
// file. Every closed one is opened on /dev/null before the program runs:
// open takes the lowest free number, so going up from 0 fills each hole.
__attribute__((constructor)) void open_standard_descriptors()
{
    for (int fd = 0; fd <= 2; fd++)
        if (fcntl(fd, F_GETFD) == -1 && open("/dev/null", O_RDWR) == -1)
            abort();
}

// Lines shorter than this are copied out of the reading buffer, which is
// kept for the next line: a copy costs less than growing a new buffer for
// every line. Longer ones take the buffer itself, so a huge line is never
// held twice.
constexpr size_t keep_buffer_below = size_t{4} * 1024 * 1024;

struct Lines {
    std::vector<char *> given;  // every line handed out, freed at exit
    char *buf = nullptr;        // getline's buffer
    size_t cap = 0;

    Lines() = default;
    Lines(const Lines &) = delete;
    Lines &operator=(const Lines &) = delete;
    ~Lines()
    {
        for (char *s : given)
            free(s);
        free(buf);
    }
} lines;

}  // namespace

string get_string(va_list *args, const char *format, ...)
{
    // An empty or null prompt prints nothing, so it is not formatted at all:
    // that spares a caller reading many lines through it.
    if (format != nullptr && format[0] != '\0') {
        if (args != nullptr) {
            vprintf(format, *args);
        } else {
            va_list ap;
            va_start(ap, format);
            vprintf(format, ap);
            va_end(ap);
        }
    }
    fflush(stdout);

    // A read error after part of a line (a terminal hung up) leaves that
    // part in the buffer: it is no line, so it gives null like the error.
    ssize_t n = getline(&lines.buf, &lines.cap, stdin);
    if (n < 0 || ferror(stdin))
        return nullptr;
    if (n > 0 && lines.buf[n - 1] == '\n') {
        n--;
        if (n > 0 && lines.buf[n - 1] == '\r')
            n--;
    }
    auto len = static_cast<size_t>(n);

    char *s;
    if (len < keep_buffer_below) {
        s = static_cast<char *>(malloc(len + 1));
        if (s == nullptr)
            return nullptr;
        memcpy(s, lines.buf, len);
    } else {
        // Shrinking gives the block its exact size, mostly without a copy.
        s = static_cast<char *>(realloc(lines.buf, len + 1));
        if (s == nullptr)
            return nullptr;
        lines.buf = nullptr;
        lines.cap = 0;
    }
    s[len] = '\0';

    try {
        lines.given.push_back(s);
    } catch (const std::bad_alloc &) {
        free(s);
        return nullptr;
    }
    return s;
}
