// The tour, run from a folder that holds a file of the learner's own.
#include <chrono>
#include <filesystem>

#include <gtest/gtest.h>

#include "run.h"

namespace {

const std::vector<std::string> programs = {
    "dupstr",  "dupchars", "copy",   "compare",   "try",        "swap",       "addresses",
    "ptrwalk", "get",      "memory", "fileclone", "contactlog", "contactsave"};

Result tour(const TempDir &dir, std::vector<std::string> args,
            std::vector<std::string> env = {"LANG=C.UTF-8", "LC_ALL", "LC_CTYPE"})
{
    args.insert(args.begin(), TOUR);
    env.push_back("TOUR_BIN=" PROGRAMS);
    return run({args, "", dir.path, env, 300});
}

size_t count(const std::string &text, const std::string &what)
{
    size_t n = 0;
    for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; at++)
        n++;
    return n;
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
    EXPECT_EQ(count(r.out, "step through every line of it: "), 8u);
    // Each picture is only the moment of its lesson: ten steps in all (swap's
    // two exchanges and get's read, before and after), not every step.
    EXPECT_EQ(count(r.out, " ── step "), 10u);
    EXPECT_NE(r.out.find("     a, b\n"), std::string::npos);
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << "colour on a pipe";
    auto entries = std::distance(std::filesystem::directory_iterator(tmp.path),
                                 std::filesystem::directory_iterator());
    EXPECT_EQ(entries, 1);
    EXPECT_EQ(read_file(tmp / "contactlog.txt"), "mine,1\n");
}

// The pictures speak the terminal's character set: box drawing where the
// locale is UTF-8, ASCII where no locale is set (a container, a CI runner).
TEST(Tour, PicturesInEveryLocale)
{
    TempDir tmp;
    struct Row {
        std::vector<std::string> env;
        const char *step;
    };
    const std::vector<Row> rows = {
        {{"LANG", "LC_ALL", "LC_CTYPE"}, " -- step "},
        {{"LANG=C", "LC_ALL", "LC_CTYPE"}, " -- step "},
        {{"LANG=C.UTF-8", "LC_ALL", "LC_CTYPE"}, " ── step "},
        {{"LANG=en_GB.UTF-8", "LC_ALL", "LC_CTYPE"}, " ── step "},
        {{"LANG=C.UTF-8", "LC_ALL=C", "LC_CTYPE"}, " -- step "},
    };
    for (const auto &row : rows) {
        Result r = tour(tmp, {"swap"}, row.env);
        EXPECT_EQ(r.status, 0) << row.env[0];
        EXPECT_EQ(count(r.out, row.step), 2u) << row.env[0] << row.env[1] << r.out;
    }
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
    for (const char *p : {"src", "askline", "bench", "setup", "tools", "lessons", "tour", "show",
                          "CMakeLists.txt", "CMakePresets.json"})
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
