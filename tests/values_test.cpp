// The memory and value programs, where the lessons' own cases (run by
// ./check in the suite) do not reach: the relations between the addresses
// printed, a full disk, and allocations that fail.
#include <cstdlib>
#include <sstream>

#include <gtest/gtest.h>

#include "run.h"

namespace {

// An address as printed by %p: 0x and lower-case hex digits without leading zeros.
unsigned long long address(const std::string &line)
{
    EXPECT_TRUE(line.size() > 2 && line.compare(0, 2, "0x") == 0 && line[2] != '0' &&
                line.find_first_not_of("0123456789abcdef", 2) == std::string::npos)
        << line;
    return strtoull(line.c_str(), nullptr, 16);
}

// The lines a program prints, each ended by a line feed, after a run that went well.
std::vector<std::string> lines(const std::string &program)
{
    Result r = run({{program}});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(!r.out.empty() && r.out.back() == '\n') << r.out;
    std::vector<std::string> v;
    std::istringstream in(r.out);
    for (std::string l; std::getline(in, l);)
        v.push_back(l);
    return v;
}

TEST(Addresses, OnePointerLine)
{
    auto v = lines("addresses");
    ASSERT_EQ(v.size(), 1u);
    EXPECT_NE(address(v[0]), 50u);
}

TEST(Ptrwalk, AddressesWalkAlongTheLiteral)
{
    auto v = lines("ptrwalk");
    ASSERT_EQ(v.size(), 5u);
    unsigned long long first = address(v[0]);
    EXPECT_EQ(address(v[1]), first);
    EXPECT_EQ(v[2], "o");
    EXPECT_EQ(address(v[3]), first + 2);
    EXPECT_EQ(address(v[4]), first + 3);
}

// Output that cannot be written is a failure, told by the status alone.
TEST(Output, FullDiskIsAFailure)
{
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"dupstr", "hello\n"}, {"dupchars", "hi\n"}, {"copy", "hello\nworld\n"},
        {"compare", "a\na\n"}, {"try", "a b\n"},     {"swap", ""},
        {"addresses", ""},     {"ptrwalk", ""},      {"get", "42\n"},
    };
    for (const auto &[program, in] : rows) {
        SCOPED_TRACE(program);
        Proc p{{program}, in};
        p.out_path = "/dev/full";
        Result r = run(p);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "");
    }
}

// malloc made to fail for real, for one size and only when the program asks.
TEST(FailedAllocation, Table)
{
    if (SANITIZED)
        GTEST_SKIP() << "malloc cannot be replaced under the sanitizers";
    struct Row {
        std::string program;
        const char *size;
        Case c;
    };
    // The copy of hello needs 6 bytes; an empty line's needs 1, and the
    // allocation is checked before the emptiness.
    const std::vector<Row> rows = {
        {"dupstr", "6", {"hello\n", "a: ", 2}},
        {"dupstr", "1", {"\nhello\n", "a: ", 2}},
        {"dupchars", "6", {"hello\n", "a: ", 2}},
        {"dupchars", "1", {"\nhello\n", "a: ", 2}},
        {"memory", "12", {"", "", 2}},
    };
    for (const auto &row : rows)
        check(row.program, {row.c},
              {"LD_PRELOAD=" PRELOAD, std::string("FAILMALLOC_SIZE=") + row.size});
}

}  // namespace
