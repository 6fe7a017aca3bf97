// The tour, run from a folder that holds a file of the learner's own.
#include <chrono>
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
    // The memory pictures of eight lessons, copy's two names meeting among them.
    size_t pictures = 0;
    for (size_t at = 0;
         (at = r.out.find("step through every line of it: ", at)) != std::string::npos; at++)
        pictures++;
    EXPECT_EQ(pictures, 8u);
    // Each picture is only the moment of its lesson: ten steps in all (swap's
    // two exchanges and get's read, before and after), not every step.
    size_t steps = 0;
    for (size_t at = 0; (at = r.out.find(" ── step ", at)) != std::string::npos; at++)
        steps++;
    EXPECT_EQ(steps, 10u);
    EXPECT_NE(r.out.find("     a, b\n"), std::string::npos);
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << "colour on a pipe";
    auto entries = std::distance(std::filesystem::directory_iterator(tmp.path),
                                 std::filesystem::directory_iterator());
    EXPECT_EQ(entries, 1);
    EXPECT_EQ(read_file(tmp / "contactlog.txt"), "mine,1\n");
}

TEST(Tour, ChosenStops)
{
    TempDir tmp;
    Result r = tour(tmp, {"get", "swap"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("== get ==\n"), std::string::npos);
    EXPECT_NE(r.out.find("a:?8\n"), std::string::npos);
    EXPECT_NE(r.out.find("a:?31\n"), std::string::npos);
    EXPECT_NE(r.out.find("== swap ==\n"), std::string::npos);
    EXPECT_EQ(r.out.find("== dupstr =="), std::string::npos);

    r = tour(tmp, {"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("usage: ", 0), 0u) << r.out;
}

// A copy of the project, toured from another folder: it builds itself once,
// says so only then, and builds again after an edit of the library.
TEST(Tour, BuildsFromAnyFolder)
{
    if (SANITIZED)
        GTEST_SKIP() << "the tour builds by the normal recipe: tested in the normal build";
    namespace fs = std::filesystem;
    TempDir project;
    TempDir elsewhere;
    fs::path source = fs::path(TOUR).parent_path();
    for (const char *p : {"src", "askline", "bench", "setup", "picture", "checker", "lessons",
                          "tour", "show", "CMakeLists.txt", "CMakePresets.json"})
        fs::copy(source / p, project / p, fs::copy_options::recursive);
    for (const char *building : {"building", "", "building"}) {
        if (*building && fs::exists(project / "build"))  // the third time: an edit
            fs::last_write_time(project / "askline/askline.c",
                                fs::file_time_type::clock::now() + std::chrono::seconds(5));
        Result r = run({{project / "tour", "get"}, "", elsewhere.path, {}, 600});
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_EQ(r.err.find("building") != std::string::npos, *building != '\0') << r.err;
        EXPECT_NE(r.out.find("a:?31\n"), std::string::npos) << r.out;
    }
    EXPECT_TRUE(fs::is_empty(elsewhere.path));
}

TEST(Tour, UnknownName)
{
    TempDir tmp;
    for (std::string name : {"nosuch", "co", "dupstrx"}) {  // a part of a name is no name
        Result r = tour(tmp, {name});
        EXPECT_EQ(r.status, 2) << name;
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("'" + name + "'"), std::string::npos);
        for (const auto &p : programs)
            EXPECT_NE(r.err.find(p), std::string::npos) << p;
    }
}

}  // namespace
