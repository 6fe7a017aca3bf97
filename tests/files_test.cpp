// The file programs, each case in a fresh temporary directory.
#include <filesystem>
#include <map>
#include <random>

#include <unistd.h>

#include <gtest/gtest.h>

#include "run.h"

namespace fs = std::filesystem;

namespace {

// Name and content of every file in dir; a link shows as "-> target".
std::map<std::string, std::string> files(const TempDir &dir)
{
    std::map<std::string, std::string> m;
    for (const auto &e : fs::directory_iterator(dir.path)) {
        std::string name = e.path().filename();
        if (e.is_symlink())
            m[name] = "-> " + fs::read_symlink(e.path()).string();
        else if (e.is_directory())
            m[name] = "<dir>";
        else
            m[name] = read_file(e.path());
    }
    return m;
}

Result run_in(const TempDir &dir, std::vector<std::string> argv, const std::string &in = "")
{
    Result r = run({std::move(argv), in, dir.path});
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.err, "");
    return r;
}

std::string random_bytes(size_t n)
{
    std::mt19937 gen(7);
    std::string s(n, '\0');
    for (auto &c : s)
        c = static_cast<char>(gen());
    return s;
}

// A copy far larger than the streams' buffers (the lesson's cases copy
// every byte value, an empty file, and over longer old content).
TEST(Fileclone, CopiesMegabytesExactly)
{
    TempDir tmp;
    const std::string bytes = random_bytes(5 * 1000 * 1000 + 3);
    write_file(tmp / "src", bytes);
    Result r = run_in(tmp, {"fileclone", "src", "dst"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(read_file(tmp / "dst") == bytes);
}

TEST(Fileclone, RefusesAndLosesNothing)
{
    // Every case runs in a folder holding a source, a destination, a folder,
    // and a hard and a symbolic link to the source, and must leave it as it was.
    struct Row {
        const char *what;
        std::vector<std::string> argv;
    };
    const std::vector<Row> rows = {
        {"no paths", {"fileclone"}},
        {"one path", {"fileclone", "src"}},
        {"one path, a new name", {"fileclone", "new"}},
        {"missing source", {"fileclone", "missing", "dst"}},
        {"missing source, new destination", {"fileclone", "missing", "new"}},
        {"same path", {"fileclone", "src", "src"}},
        {"same file by another path", {"fileclone", "src", "./sub/../src"}},
        {"same file by a hard link", {"fileclone", "src", "hard"}},
        {"same file by a symbolic link", {"fileclone", "src", "soft"}},
        {"a link as source, its target as destination", {"fileclone", "soft", "src"}},
        {"a directory as source", {"fileclone", "sub", "dst"}},
        {"a directory as source, new destination", {"fileclone", "sub", "new"}},
        {"a destination that cannot be opened", {"fileclone", "src", "nowhere/dst"}},
        {"a directory as destination", {"fileclone", "src", "sub"}},
        {"a source that opens but cannot be read", {"fileclone", "/proc/self/mem", "dst"}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        TempDir tmp;
        write_file(tmp / "src", "source");
        write_file(tmp / "dst", "destination");
        fs::create_directory(tmp / "sub");
        fs::create_hard_link(tmp / "src", tmp / "hard");
        fs::create_symlink("src", tmp / "soft");
        auto before = files(tmp);
        Result r = run_in(tmp, row.argv);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(files(tmp), before);
    }
}

TEST(Fileclone, FailedReadOrWriteIsAFailure)
{
    TempDir tmp;
    write_file(tmp / "small", "x");
    write_file(tmp / "big", random_bytes(300 * 1000));
    struct Row {
        const char *src;
        const char *dst;
        std::vector<std::string> env;
    };
    const std::vector<Row> rows = {
        {"small", "/dev/full", {}},  // fails at the close
        {"big", "/dev/full", {}},    // fails while copying
        // reading fails once the first stream buffer is used up
        {"big", "out", {"LD_PRELOAD=" PRELOAD, "FAILREAD_AFTER=1"}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(std::string(row.src) + " to " + row.dst);
        if (SANITIZED && !row.env.empty())
            continue;  // nothing can be preloaded before the sanitizers' runtime
        Result r = run({{"fileclone", row.src, row.dst}, "", tmp.path, row.env});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "");
    }
}

// "contactlog.txt" as a link into a place that does not exist, or to /dev/full.
void dangling(const TempDir &d)
{
    fs::create_symlink("nowhere/file", d / "contactlog.txt");
}
void full(const TempDir &d)
{
    fs::create_symlink("/dev/full", d / "contactlog.txt");
}
void a_directory(const TempDir &d)
{
    fs::create_directory(d / "contactlog.txt");
}

TEST(Contactlog, TwoRunsAppend)
{
    TempDir tmp;
    write_file(tmp / "contactlog.txt", "earlier\n");
    EXPECT_EQ(run_in(tmp, {"contactlog"}, "office\n123\n").status, 0);
    EXPECT_EQ(run_in(tmp, {"contactlog"}, "shop\n456\n").status, 0);
    EXPECT_EQ(read_file(tmp / "contactlog.txt"), "earlier\noffice,123\nshop,456\n");
}

TEST(ContactFile, CannotBeWritten)
{
    // A record larger than the stream's buffer fails in the write itself,
    // a small one only when the stream is closed.
    const std::string big = std::string(10000, 'n') + "\n1\n";
    struct Row {
        std::string program;
        void (*setup)(const TempDir &);
        std::string in;
        std::string out;  // contactlog asks nothing when the file cannot be opened
    };
    const std::vector<Row> rows = {
        {"contactlog", a_directory, "office\n123\n", ""},
        {"contactlog", dangling, "office\n123\n", ""},
        {"contactlog", full, "office\n123\n", "name: numbers: "},
        {"contactlog", full, big, "name: numbers: "},
        {"contactsave", a_directory, "office\n123\n", "name: numbers: "},
        {"contactsave", dangling, "office\n123\n", "name: numbers: "},
        {"contactsave", full, "office\n123\n", "name: numbers: "},
        {"contactsave", full, big, "name: numbers: "},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.program + " with " + std::to_string(row.in.size()) + " bytes typed");
        TempDir tmp;
        row.setup(tmp);
        auto before = files(tmp);
        Result r = run_in(tmp, {row.program}, row.in);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, row.out);
        EXPECT_EQ(files(tmp), before);
    }
}

// A write cut off part-way by the file size limit (in 512-byte blocks, with
// the signal it sends ignored, so that the write fails instead) leaves the
// file as it was.
TEST(Contactlog, CutWriteLeavesWholeRecords)
{
    TempDir tmp;
    write_file(tmp / "contactlog.txt", "old,1\n");
    Result r = run_in(
        tmp, {"/bin/sh", "-c", "trap '' XFSZ; ulimit -f 1; exec \"$0\"", PROGRAMS "/contactlog"},
        std::string(2000, 'n') + "\n1\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(read_file(tmp / "contactlog.txt"), "old,1\n");
}

// A closed standard descriptor is not handed to the contact file: the
// prompts never end up in it.
TEST(ContactFile, ClosedStandardDescriptors)
{
    struct Row {
        std::string program;
        const char *redirect;
        int status;
        const char *after;
    };
    const std::vector<Row> rows = {
        {"contactlog", ">&-", 0, "office,123\n"},
        {"contactlog", "2>&-", 0, "office,123\n"},
        {"contactlog", ">&- 2>&-", 0, "office,123\n"},  // both holes filled, not just one
        {"contactlog", "<&-", 1, ""},                   // reads as the end of input
        {"contactlog", "<&- >&- 2>&-", 1, ""},
        {"contactsave", ">&-", 0, "office\n123"},
        {"contactsave", ">&- 2>&-", 0, "office\n123"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.program + " " + row.redirect);
        TempDir tmp;
        Result r = run_in(tmp,
                          {"/bin/sh", "-c", std::string("exec \"$0\" ") + row.redirect,
                           PROGRAMS "/" + row.program},
                          "office\n123\n");
        EXPECT_EQ(r.status, row.status);
        EXPECT_EQ(read_file(tmp / "contactlog.txt"), row.after);
    }
}

}  // namespace
