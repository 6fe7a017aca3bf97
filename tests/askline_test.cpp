// The prompt library, called in this process on a redirected standard input.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

#include "askline.h"
#include "run.h"

// The library's blocks come from this very malloc, which notes each block
// and its size while `noting` is on (not under the sanitizers, whose runtime
// is the malloc).
#if !SANITIZED
extern "C" void *__libc_malloc(size_t n);
namespace {
bool noting;
void *noted_at[1024];
size_t noted_size[1024];
size_t noted;
}  // namespace
extern "C" void *malloc(size_t n)
{
    void *p = __libc_malloc(n);
    if (noting && noted < 1024) {
        noted_at[noted] = p;
        noted_size[noted++] = n;
    }
    return p;
}
#endif

namespace {

// Standard input comes from a file holding the given bytes; standard output
// goes to a file, so the prompts can be read back.
class Askline : public testing::Test {
  protected:
    TempDir tmp;
    int saved_out = -1;

    void SetUp() override
    {
        fflush(stdout);
        saved_out = dup(1);
        ASSERT_NE(freopen((tmp / "out").c_str(), "w", stdout), nullptr);
    }
    void TearDown() override
    {
        fflush(stdout);
        dup2(saved_out, 1);
        close(saved_out);
        clearerr(stdout);
        if (HasFailure())  // gtest wrote its messages among the prompts
            fputs(read_file(tmp / "out").c_str(), stderr);
    }
    void feed(const std::string &bytes)
    {
        write_file(tmp / "in", bytes);
        ASSERT_NE(freopen((tmp / "in").c_str(), "r", stdin), nullptr);
    }
    std::string prompts()
    {
        fflush(stdout);
        return read_file(tmp / "out");
    }
};

// Hands its own arguments on through get_string's va_list pointer.
string ask(const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-security"
    string s = get_string(&ap, format);
#pragma GCC diagnostic pop
    va_end(ap);
    return s;
}

TEST_F(Askline, SplitsLines)
{
    struct Row {
        std::string in;
        std::vector<std::string> lines;
    };
    const std::vector<Row> rows = {
        {"hello\n", {"hello"}},
        {"\n", {""}},
        {"", {}},
        {"a\nb\n", {"a", "b"}},
        {"a\r\nb\r\n", {"a", "b"}},  // CRLF gives what LF gives
        {"\r\n\n", {"", ""}},
        {"x\r\r\n", {"x\r"}},  // only the CR right before the LF goes
        {"a\rb\n", {"a\rb"}},  // a lone CR stays
        {"last", {"last"}},    // no line feed at the end
        {"last\r", {"last\r"}},
        {"a\n\nb", {"a", "", "b"}},
        {"  \t \n", {"  \t "}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE("input \"" + row.in + "\"");
        feed(row.in);
        for (const auto &line : row.lines) {
            string s = get_string(nullptr, "> ");
            ASSERT_NE(s, nullptr);
            EXPECT_EQ(std::string(s), line);
        }
        EXPECT_EQ(get_string(nullptr, "> "), nullptr);
        EXPECT_EQ(get_string(nullptr, "> "), nullptr);  // and stays at the end
    }
}

TEST_F(Askline, ResultsAreIndependentAndWritable)
{
    feed("first\nsecond\n");
    string a = get_string(nullptr, "a: ");
    string b = get_string(nullptr, "b: ");
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_STREQ(a, "first");  // not overwritten by the second read
    a[0] = 'F';
    strcpy(a + 1, "IRST");
    EXPECT_STREQ(a, "FIRST");
    EXPECT_STREQ(b, "second");
}

// Far more lines than the library's list of kept lines first has room for:
// each stays as it was read, in a block of exactly its length plus one.
TEST_F(Askline, ManyLinesEachKeptAtItsSize)
{
    std::vector<std::string> lines;
    std::string in;
    for (int i = 0; i < 300; i++) {
        lines.push_back(std::string(static_cast<size_t>(i % 9), static_cast<char>('a' + i % 26)));
        in += lines.back() + "\n";
    }
    feed(in);
    std::vector<string> got;
#if !SANITIZED
    noted = 0;
    noting = true;
#endif
    for (size_t i = 0; i < lines.size(); i++)
        got.push_back(get_string(nullptr, "> "));
#if !SANITIZED
    noting = false;
#endif
    for (size_t i = 0; i < lines.size(); i++) {
        SCOPED_TRACE(i);
        ASSERT_NE(got[i], nullptr);
        EXPECT_EQ(std::string(got[i]), lines[i]);
#if !SANITIZED
        // the last block given at that address: an earlier one there was freed
        size_t k = noted;
        while (k > 0 && noted_at[k - 1] != got[i])
            k--;
        ASSERT_GT(k, 0u) << "not a block of its own";
        EXPECT_EQ(noted_size[k - 1], lines[i].size() + 1);
#endif
    }
}

TEST_F(Askline, KeepsEveryByteButLineFeed)
{
    std::string bytes;
    for (int c = 1; c <= 0xFF; c++)
        if (c != '\n')
            bytes += static_cast<char>(c);
    feed(bytes + "\n");
    string s = get_string(nullptr, "> ");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(std::string(s), bytes);
}

TEST_F(Askline, LongLines)
{
    // Around the size where the library stops copying and hands over its buffer.
    for (size_t n : {4194303, 4194304, 4194305, 10 * 1000 * 1000}) {
        SCOPED_TRACE(n);
        std::string line(n, 'x');
        line[n / 2] = 'y';
        feed(line + "\r\nnext\n");
        string s = get_string(nullptr, "> ");
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(strlen(s), n);
        EXPECT_TRUE(std::string(s) == line);
        string t = get_string(nullptr, "> ");
        ASSERT_NE(t, nullptr);
        EXPECT_STREQ(t, "next");
        EXPECT_TRUE(std::string(s) == line);
    }
}

TEST_F(Askline, FormatsThePrompt)
{
    feed("1\n2\n3\n4\n");
    ASSERT_NE(get_string(nullptr, "a: "), nullptr);
    ASSERT_NE(get_string(nullptr, "%s-%d: ", "n", 7), nullptr);
    ASSERT_NE(ask("%c%x? ", 'h', 255), nullptr);
    string s = get_string(nullptr, nullptr);  // a null prompt shows nothing
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s, "4");
    EXPECT_EQ(prompts(), "a: n-7: hff? ");
}

// A stream that gives its bytes, then fails as a hung-up terminal does.
ssize_t hang_up(void *cookie, char *buf, size_t size)
{
    auto *rest = static_cast<std::string *>(cookie);
    if (rest->empty()) {
        errno = EIO;
        return -1;
    }
    size_t n = std::min(size, rest->size());
    memcpy(buf, rest->data(), n);
    rest->erase(0, n);
    return static_cast<ssize_t>(n);
}

TEST_F(Askline, ReadErrorGivesNull)
{
    ASSERT_NE(freopen(tmp.path.c_str(), "r", stdin), nullptr);  // reading a directory fails
    EXPECT_EQ(get_string(nullptr, "> "), nullptr);

    // A whole line before the error is a line; the part after it is not.
    std::string bytes = "whole\npartial";
    FILE *saved = stdin;
    stdin = fopencookie(&bytes, "r", {hang_up, nullptr, nullptr, nullptr});
    ASSERT_NE(stdin, nullptr);
    string s = get_string(nullptr, "> ");
    string t = get_string(nullptr, "> ");
    fclose(stdin);
    stdin = saved;
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s, "whole");
    EXPECT_EQ(t, nullptr);
}

TEST_F(Askline, PromptIsOutBeforeTheRead)
{
    // Standard input is a pipe that stays empty until the prompt has reached
    // standard output. Had the prompt waited in a buffer, the writer gives up
    // and closes the pipe, and the read ends with null instead of the line.
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    ASSERT_NE(freopen(("/dev/fd/" + std::to_string(p[0])).c_str(), "r", stdin), nullptr);
    close(p[0]);
    std::string path = tmp / "out";
    std::thread writer([&] {
        for (int i = 0; i < 500 && read_file(path) != "Q? "; i++)
            usleep(10000);
        if (read_file(path) == "Q? ")
            (void)!write(p[1], "x\n", 2);
        close(p[1]);
    });
    string s = get_string(nullptr, "Q? ");
    writer.join();
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s, "x");
}

}  // namespace
