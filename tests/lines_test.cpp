// The line programs where the lessons' own cases (lessons/*.json, run by
// ./check in the suite) do not reach: lines of megabytes, and the ctype
// functions' arguments.
#include <gtest/gtest.h>

#include "run.h"

namespace {

TEST(Dupstr, LongLines)
{
    // The library hands its own buffer over as the line from 4 MiB on; the
    // process must still end cleanly after such a line.
    const std::string big(4 << 20, 'x');
    check("dupstr", {
                        {big + "\n", "a: " + big + "\n" + big + "\n", 0},
                        {"\n" + big, "a: a: " + big + "\n" + big + "\n", 0},
                    });
}

// toupper and isspace are given unsigned chars, also for bytes above 0x7F:
// the preload aborts the program on any other value, which glibc alone
// would answer as if it were the byte (not under the sanitizers, whose
// runtime must be loaded first).
TEST(Ctype, ArgumentsAreUnsignedChars)
{
    if (SANITIZED)
        GTEST_SKIP() << "nothing can be preloaded before the sanitizers' runtime";
    const std::vector<std::string> preload = {"LD_PRELOAD=" PRELOAD};
    check("copy", {{"\xE9t\xE9\nx\n", "a: b: \xE9t\xE9\n\xE9t\xE9\n", 0}}, preload);
    check("try", {{"\xA0\x85\xFF x\n", "Text: 2\n", 0}}, preload);
}

}  // namespace
