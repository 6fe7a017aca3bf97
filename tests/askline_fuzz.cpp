// Fuzzes get_string: any bytes as standard input must come back as the
// lines they hold. Lines end at a line feed; a carriage return right before
// it is dropped, any other stays; a last line without a line feed is a line.
// Under AddressSanitizer every result must also be a block of exactly its
// length plus one byte.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sanitizer/allocator_interface.h>

#include "askline.h"

namespace {

std::vector<std::string> expected_lines(const std::string &in)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t lf; (lf = in.find('\n', start)) != std::string::npos; start = lf + 1) {
        std::string line = in.substr(start, lf - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    if (start < in.size())
        lines.push_back(in.substr(start));
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string in(reinterpret_cast<const char *>(data), size);
    // fmemopen wants at least one byte; an empty input reads /dev/null instead.
    FILE *f = size > 0 ? fmemopen(in.data(), size, "r") : fopen("/dev/null", "r");
    if (f == nullptr)
        abort();
    FILE *saved = stdin;
    stdin = f;

    for (const std::string &line : expected_lines(in)) {
        string s = get_string(nullptr, "%s", "");
        if (s == nullptr || __sanitizer_get_allocated_size(s) != line.size() + 1 ||
            memcmp(s, line.data(), line.size()) != 0 || s[line.size()] != '\0')
            abort();
    }
    if (get_string(nullptr, "%s", "") != nullptr)
        abort();

    stdin = saved;
    fclose(f);
    return 0;
}
