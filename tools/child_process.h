// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Runs a program to its end as an operator's shell would, and says how it ended and what it
// cost: exit status or signal, standard error, wall and CPU time, peak memory. QProcess
// cannot tell the CPU time and the memory of one child, hence this.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

extern char** environ;

namespace progread::testing {

struct ChildOutcome {
    int exitCode = -1;  // -1 when it ended by a signal
    int signal = 0;
    std::string stdErr;
    double wallSeconds = 0;
    std::chrono::steady_clock::time_point endedAt;  // when it was seen to end
    double cpuSeconds = 0;
    long peakRssKb = 0;
    bool started = false;
};

// watch runs every 20 ms while the child runs, with its pid; it may signal it. setEnv holds
// "NAME=value" entries that replace the inherited ones.
inline ChildOutcome runChild(const std::vector<std::string>& argv,
                             const std::vector<std::string>& unsetEnv = {},
                             const std::function<void(pid_t)>& watch = {},
                             const std::vector<std::string>& setEnv = {}) {
    ChildOutcome out;
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        bool drop = false;
        for (const auto& name : unsetEnv) drop = drop || entry.rfind(name + "=", 0) == 0;
        for (const auto& set : setEnv)
            drop = drop || entry.rfind(set.substr(0, set.find('=') + 1), 0) == 0;
        if (!drop) env.push_back(entry);
    }
    env.insert(env.end(), setEnv.begin(), setEnv.end());
    std::vector<char*> envp, args;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> argCopy = argv;
    for (auto& a : argCopy) args.push_back(a.data());
    args.push_back(nullptr);

    int err[2];
    if (::pipe2(err, O_CLOEXEC) != 0) return out;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(err[1]);
    if (rc != 0) {
        ::close(err[0]);
        return out;
    }
    out.started = true;
    for (;;) {
        pollfd p{err[0], POLLIN, 0};
        const int ready = ::poll(&p, 1, 20);
        if (ready > 0) {
            char buf[4096];
            const ssize_t n = ::read(err[0], buf, sizeof buf);
            if (n <= 0) break;  // the child is gone (or closed its error stream)
            out.stdErr.append(buf, static_cast<std::size_t>(n));
        }
        if (watch) watch(pid);
    }
    ::close(err[0]);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    out.endedAt = std::chrono::steady_clock::now();
    out.wallSeconds = std::chrono::duration<double>(out.endedAt - start).count();
    out.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    out.peakRssKb = usage.ru_maxrss;
    if (WIFEXITED(status)) out.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) out.signal = WTERMSIG(status);
    return out;
}

// progread-sim started without Qt, so that threads may each run one; stopped (by its own
// pid) when done.
class SimProcess {
public:
    explicit SimProcess(const std::vector<std::string>& args) {
        std::vector<std::string> argCopy = args;
        std::vector<char*> argv;
        for (auto& a : argCopy) argv.push_back(a.data());
        argv.push_back(nullptr);
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        if (rc != 0) {
            pid_ = 0;
            ::close(out[0]);
            return;
        }
        char c;
        while (::read(out[0], &c, 1) == 1 && c != '\n') port_ += c;
        ::close(out[0]);
    }
    ~SimProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;
    const std::string& port() const { return port_; }

private:
    pid_t pid_ = 0;
    std::string port_;
};

}  // namespace progread::testing
