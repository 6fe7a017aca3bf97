// The tour, run from a folder that holds a file of the learner's own.
#include <filesystem>

#include <gtest/gtest.h>

#include "run.h"

namespace {

const std::vector<std::string> programs = {
    "dupstr",  "dupchars", "copy",   "compare",   "try",        "swap",       "addresses",
    "ptrwalk", "get",      "memory", "fileclone", "contactlog", "contactsave"};

Result tour(const TempDir &dir, std::vector<std::string> args)
{
    args.insert(args.begin(), TOUR);
    return run({args, "", dir.path, {"TOUR_BIN=" PROGRAMS}, 300});
}

TEST(Tour, ShowsEveryProgramAndTouchesNothing)
{
    TempDir tmp;
    write_file(tmp / "contactlog.txt", "mine,1\n");
    Result r = tour(tmp, {});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    for (const auto &p : programs)
        EXPECT_NE(r.out.find("== " + p + " ==\n"), std::string::npos) << p;
    EXPECT_NE(r.out.find("a: b: Hello\nHello\n"), std::string::npos);
    EXPECT_NE(r.out.find("picture.bin and copy.bin are equal"), std::string::npos);
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << "colour on a pipe";
    auto entries = std::distance(std::filesystem::directory_iterator(tmp.path),
                                 std::filesystem::directory_iterator());
    EXPECT_EQ(entries, 1);
    EXPECT_EQ(read_file(tmp / "contactlog.txt"), "mine,1\n");
}

TEST(Tour, OneStop)
{
    TempDir tmp;
    Result r = tour(tmp, {"get"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("== get ==\n"), std::string::npos);
    EXPECT_NE(r.out.find("a:?8\n"), std::string::npos);
    EXPECT_NE(r.out.find("a:?31\n"), std::string::npos);
    EXPECT_EQ(r.out.find("== dupstr =="), std::string::npos);
}

TEST(Tour, UnknownName)
{
    TempDir tmp;
    Result r = tour(tmp, {"nosuch"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("'nosuch'"), std::string::npos);
    for (const auto &p : programs)
        EXPECT_NE(r.err.find(p), std::string::npos) << p;
}

}  // namespace
