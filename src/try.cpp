// try: counts the words of a line as its white-space characters plus one.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "askline.h"

size_t get_words(string text);

int main()
{
    string text = get_string(nullptr, "Text: ");
    if (text == nullptr)
        return 1;
    size_t letters = get_words(text);
    printf("%zu\n", letters);
    return fflush(stdout) == 0 && !ferror(stdout) ? 0 : 1;  // all of it was written
}

// Every white-space character counts on its own, also at the ends of the
// line. size_t holds the count of any line that fits in memory.
size_t get_words(string text)
{
    size_t sumW = 0;
    size_t n = strlen(text);
    for (size_t i = 0; i < n; i++)
        if (isspace(static_cast<unsigned char>(text[i])))
            sumW++;
    return sumW + 1;
}
