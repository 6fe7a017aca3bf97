// The line programs, run as processes with typed input.
#include <gtest/gtest.h>

#include "run.h"

namespace {

TEST(Dupstr, Table)
{
    check("dupstr", {
        {"hello\n", "a: hello\nhello\n", 0},
        {"hello", "a: hello\nhello\n", 0},
        {"hello\r\n", "a: hello\nhello\n", 0},
        {"\n\n\nhi\n", "a: a: a: a: hi\nhi\n", 0},
        {"   \n", "a:    \n   \n", 0},  // blanks are not empty
        {"\xE9t\xE9\n", "a: \xE9t\xE9\n\xE9t\xE9\n", 0},
        {"", "a: ", 1},
        {"\n\n", "a: a: a: ", 1},
    });
}

TEST(Dupstr, FailedAllocation)
{
    if (SANITIZED)
        GTEST_SKIP() << "malloc cannot be replaced under the sanitizers";
    // The copy of hello needs 6 bytes; an empty line's needs 1, and the
    // allocation is checked before the emptiness.
    check("dupstr", {{"hello\n", "a: ", 2}}, {"LD_PRELOAD=" FAILMALLOC, "FAILMALLOC_SIZE=6"});
    check("dupstr", {{"\nhello\n", "a: ", 2}}, {"LD_PRELOAD=" FAILMALLOC, "FAILMALLOC_SIZE=1"});
}

}  // namespace
