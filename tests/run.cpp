#include "run.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

extern char **environ;

namespace {

void fail(const char *what)
{
    throw std::runtime_error(std::string(what) + ": " + strerror(errno));
}

// The environment of the test with p.env laid over it: NAME=value sets NAME,
// a NAME alone takes it out.
std::vector<std::string> environment(const std::vector<std::string> &extra)
{
    std::vector<std::string> env;
    for (char **e = environ; *e != nullptr; e++) {
        std::string s = *e;
        bool replaced = false;
        for (const auto &x : extra)
            replaced |= x.substr(0, x.find('=')) == s.substr(0, s.find('='));
        if (!replaced)
            env.push_back(s);
    }
    for (const auto &x : extra)
        if (x.find('=') != std::string::npos)
            env.push_back(x);
    return env;
}

std::vector<char *> pointers(std::vector<std::string> &v)
{
    std::vector<char *> p;
    for (auto &s : v)
        p.push_back(s.data());
    p.push_back(nullptr);
    return p;
}

}  // namespace

Result run(const Proc &p)
{
    // A program that stops reading early must not take the test down with it.
    signal(SIGPIPE, SIG_IGN);

    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        fail("pipe");

    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], 0);
    if (p.out_path.empty())
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    else
        posix_spawn_file_actions_addopen(&fa, 1, p.out_path.c_str(), O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&fa, err[1], 2);
    if (!p.dir.empty())
        posix_spawn_file_actions_addchdir_np(&fa, p.dir.c_str());

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t def;
    sigemptyset(&def);
    sigaddset(&def, SIGPIPE);
    posix_spawnattr_setsigdefault(&attr, &def);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);

    std::vector<std::string> args = p.argv;
    std::string path = args.at(0);
    if (path.find('/') == std::string::npos)
        path = std::string(PROGRAMS) + "/" + path;
    std::vector<std::string> env = environment(p.env);
    auto argv = pointers(args);
    auto envp = pointers(env);

    pid_t pid;
    int rc = posix_spawn(&pid, path.c_str(), &fa, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    if (rc != 0) {
        errno = rc;
        fail(path.c_str());
    }

    // Feed standard input and drain both outputs together, so that neither
    // side can fill a pipe and wait for the other.
    Result r;
    fcntl(in[1], F_SETFL, O_NONBLOCK);
    size_t sent = 0;
    int wfd = in[1];
    if (p.in.empty()) {
        close(wfd);
        wfd = -1;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(p.timeout);
    int open_outputs = 2;
    char buf[65536];
    while (open_outputs > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            kill(pid, SIGKILL);
            r.timed_out = true;
            break;
        }
        pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {wfd, POLLOUT, 0}};
        if (poll(fds, wfd >= 0 ? 3 : 2, static_cast<int>(left.count())) < 0) {
            if (errno == EINTR)
                continue;
            fail("poll");
        }
        for (int i = 0; i < 2; i++) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                (i == 0 ? r.out : r.err).append(buf, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                (i == 0 ? out[0] : err[0]) = -1;
                open_outputs--;
            }
        }
        if (wfd >= 0 && fds[2].revents != 0) {
            ssize_t n = write(wfd, p.in.data() + sent, p.in.size() - sent);
            if (n > 0)
                sent += static_cast<size_t>(n);
            if ((n < 0 && errno != EAGAIN && errno != EINTR) || sent == p.in.size()) {
                close(wfd);  // all given, or the program closed its end
                wfd = -1;
            }
        }
    }
    for (int fd : {wfd, out[0], err[0]})
        if (fd >= 0)
            close(fd);

    int ws;
    while (waitpid(pid, &ws, 0) < 0)
        if (errno != EINTR)
            fail("waitpid");
    if (WIFEXITED(ws))
        r.status = WEXITSTATUS(ws);
    else if (WIFSIGNALED(ws))
        r.signal = WTERMSIG(ws);
    return r;
}

void check(const std::string &program, const std::vector<Case> &cases,
           const std::vector<std::string> &env)
{
    for (const auto &c : cases) {
        SCOPED_TRACE(program + " with input \"" + c.in + "\"");
        Result r = run({{program}, c.in, "", env});
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.signal, 0);
        EXPECT_EQ(r.err, "");
    }
}

TempDir::TempDir()
{
    std::string tmpl = (std::filesystem::temp_directory_path() / "lessons-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr)
        fail("mkdtemp");
    path = tmpl;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

std::string read_file(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

void write_file(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}
