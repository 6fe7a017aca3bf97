// Every program under valgrind's memcheck: no invalid access anywhere (the
// error count leaves leaks out), and at exit only the blocks a program keeps
// on purpose, none of the prompt library's.
#include <regex>

#include <gtest/gtest.h>

#include "run.h"

namespace {

struct Row {
    std::vector<std::string> argv;
    std::string in;
    std::string out;
    const char *in_use;  // valgrind's "in use at exit" figure
};

// The number in the first match of pattern's group in valgrind's report.
std::string figure(const std::string &report, const char *pattern)
{
    std::smatch m;
    if (!std::regex_search(report, m, std::regex(pattern)))
        return "(not in the report)";
    return m[1];
}

TEST(Memcheck, Table)
{
    if (std::string(VALGRIND).empty())
        GTEST_SKIP() << "valgrind is not installed: no memory-checker run";
    const std::string big(4 << 20, 'x');  // the library hands over its buffer for this line
    const std::vector<Row> rows = {
        // dupstr and dupchars keep one copy block per pass: 1 + 1 + 6 bytes.
        {{"dupstr"}, "\n\nhello\n", "a: a: a: hello\nhello\n", "8 bytes in 3 blocks"},
        // A line the library hands its buffer over for: exactly its length plus one.
        {{"dupstr"}, big, "a: " + big + "\n" + big + "\n", "4,194,305 bytes in 1 blocks"},
        {{"dupchars"}, "\n\nhello\n", "a: a: a: hello\nhello\n", "8 bytes in 3 blocks"},
        {{"memory"}, "", "", "12 bytes in 1 blocks"},
        {{"copy"}, "\nb\nhello\nworld\n", "a: b: a: b: Hello\nHello\n", "0 bytes in 0 blocks"},
        {{"compare"}, "apple\navocado\n", "j: a: equal", "0 bytes in 0 blocks"},
        {{"try"}, "hello world\n", "Text: 2\n", "0 bytes in 0 blocks"},
        {{"try"}, "", "Text: ", "0 bytes in 0 blocks"},
        {{"swap"}, "", "x=1,y=2\nx=1,y=2\nx=2,y=1\n", "0 bytes in 0 blocks"},
        {{"get"}, "0x1F\n", "a:?31\n", "0 bytes in 0 blocks"},
        {{"get"}, "abc\n", "a:?", "0 bytes in 0 blocks"},
        {{"fileclone", "src", "dst"}, "", "", "0 bytes in 0 blocks"},
        {{"fileclone", "src", "src"}, "", "", "0 bytes in 0 blocks"},
        {{"contactlog"}, "office\n123\n", "name: numbers: ", "0 bytes in 0 blocks"},
        {{"contactsave"}, "office\n123\n", "name: numbers: ", "0 bytes in 0 blocks"},
        {{"contactsave"}, "office\n", "name: numbers: ", "0 bytes in 0 blocks"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.argv[0] + " with input \"" + row.in + "\"");
        TempDir tmp;
        write_file(tmp / "src", "some bytes\n");
        std::vector<std::string> argv = {VALGRIND, "--leak-check=full", "--show-leak-kinds=all",
                                         "--errors-for-leak-kinds=none",
                                         std::string(PROGRAMS) + "/" + row.argv[0]};
        argv.insert(argv.end(), row.argv.begin() + 1, row.argv.end());
        Result r = run({argv, row.in, tmp.path, {}, 300});
        EXPECT_EQ(r.out, row.out);
        EXPECT_EQ(figure(r.err, R"(ERROR SUMMARY: (\d+) errors)"), "0") << r.err;
        EXPECT_EQ(figure(r.err, R"(in use at exit: ([\d,]+ bytes in [\d,]+ blocks))"), row.in_use)
            << r.err;
        // Whatever is left was allocated by the program itself, not by the library.
        EXPECT_EQ(r.err.find("get_string"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("askline"), std::string::npos) << r.err;
    }
}

}  // namespace
