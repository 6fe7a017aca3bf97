// The line programs, run as processes with typed input.
#include <gtest/gtest.h>

#include "run.h"

namespace {

// The preload's check of toupper and isspace, which glibc alone does not make;
// not under the sanitizers, whose runtime must be loaded first.
const std::vector<std::string> ctype_checked =
    SANITIZED ? std::vector<std::string>{} : std::vector<std::string>{"LD_PRELOAD=" PRELOAD};

TEST(Dupstr, Table)
{
    // The library hands its own buffer over as the line from 4 MiB on; the
    // process must still end cleanly after such a line.
    const std::string big(4 << 20, 'x');
    const std::vector<Case> cases = {
        {big + "\n", "a: " + big + "\n" + big + "\n", 0},
        {"\n" + big, "a: a: " + big + "\n" + big + "\n", 0},
        {"hello\n", "a: hello\nhello\n", 0},
        {"hello", "a: hello\nhello\n", 0},
        {"hello\r\n", "a: hello\nhello\n", 0},
        {"\n\n\nhi\n", "a: a: a: a: hi\nhi\n", 0},
        {"   \n", "a:    \n   \n", 0},  // blanks are not empty
        {"\xE9t\xE9\n", "a: \xE9t\xE9\n\xE9t\xE9\n", 0},
        {"", "a: ", 1},
        {"\n\n", "a: a: a: ", 1},
    };
    check("dupstr", cases);
}

TEST(Dupchars, Table)
{
    const std::vector<Case> cases = {
        {"hi\n", "a: hi\nhi\n", 0},
        {"\n\nhi\n", "a: a: a: hi\nhi\n", 0},
        {" \t \n", "a:  \t \n \t \n", 0},
        {"x", "a: x\nx\n", 0},
        {"", "a: ", 1},
        {"\n", "a: a: ", 1},
    };
    check("dupchars", cases);
}

TEST(Copy, Table)
{
    const std::vector<Case> cases = {
        {"hello\nworld\n", "a: b: Hello\nHello\n", 0},
        {"Hello\nx\n", "a: b: Hello\nHello\n", 0},
        {"1st\nx\n", "a: b: 1st\n1st\n", 0},
        {" lead\nx\n", "a: b:  lead\n lead\n", 0},
        {"z\nx\n", "a: b: Z\nZ\n", 0},
        {"\xE9t\xE9\nx\n", "a: b: \xE9t\xE9\n\xE9t\xE9\n", 0},  // bytes above 0x7F stay
        {"\nworld\nhello\nworld\n", "a: b: a: b: Hello\nHello\n", 0},
        {"hello\n\nhi\nyo\n", "a: b: a: b: Hi\nHi\n", 0},
        {"", "a: ", 1},
        {"hello\n", "a: b: ", 1},
        {"\n\n", "a: b: a: ", 1},
    };
    check("copy", cases, ctype_checked);
}

TEST(Compare, Table)
{
    const std::vector<Case> cases = {
        {"apple\navocado\n", "j: a: equal", 0},
        {"apple\nApple\n", "j: a: different", 0},
        {"\n\n", "j: a: equal", 0},
        {"a\n\n", "j: a: different", 0},
        {"\nx\n", "j: a: different", 0},
        {"\xE9"
         "a\n\xE9"
         "b\n",
         "j: a: equal", 0},
        {"", "j: ", 1},
        {"apple\n", "j: a: ", 1},
    };
    check("compare", cases);
}

TEST(Try, Table)
{
    const std::vector<Case> cases = {
        {"\n", "Text: 1\n", 0},
        {"hello\n", "Text: 1\n", 0},
        {"hello world\n", "Text: 2\n", 0},
        {"hello  world\n", "Text: 3\n", 0},
        {" hello \n", "Text: 3\n", 0},
        {"   \n", "Text: 4\n", 0},
        {"a\tb\n", "Text: 2\n", 0},
        {"\t\t\n", "Text: 3\n", 0},
        {"a\vb\fc\rd\n", "Text: 4\n", 0},
        {"\xA0\x85\xFF x\n", "Text: 2\n", 0},  // no byte above 0x7F is white space
        {"", "Text: ", 1},
    };
    check("try", cases, ctype_checked);
}

}  // namespace
