#include "askline.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace {

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
    // An empty prompt prints nothing, so it is not formatted at all: that
    // spares a caller reading many lines through it.
    if (format[0] != '\0') {
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

    ssize_t n = getline(&lines.buf, &lines.cap, stdin);
    if (n < 0)  // end of input or a read error
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
