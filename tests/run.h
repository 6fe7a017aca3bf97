// Runs a program of the collection as a process and captures what it does.
#pragma once

#include <string>
#include <vector>

struct Proc {
    std::vector<std::string> argv;  // argv[0]: a program of the collection, or a path with a slash
    std::string in;                 // the whole of standard input
    std::string dir;                // working directory; empty for the test's own
    std::vector<std::string> env;   // NAME=value, laid over the test's environment; NAME: out
    int timeout = 60;               // seconds, then the process is killed
    std::string out_path;           // standard output to this file instead of a pipe
};

struct Result {
    std::string out;
    std::string err;
    int status = -1;  // exit status; -1 when a signal ended the process
    int signal = 0;   // the signal that ended it, 0 when it exited
    bool timed_out = false;
};

Result run(const Proc &p);

// One row of a program's table: standard input, whole standard output, exit status.
struct Case {
    std::string in;
    std::string out;
    int status;
};

// Runs every row through the program and checks output, status and an empty
// standard error. env is added to each run.
void check(const std::string &program, const std::vector<Case> &cases,
           const std::vector<std::string> &env = {});

// A fresh temporary directory, removed with everything in it at the end of scope.
struct TempDir {
    std::string path;
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    std::string operator/(const std::string &name) const { return path + "/" + name; }
};

std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &bytes);
