// SPDX-License-Identifier: MIT
#pragma once
// Programs the benchmarks run beside the terminal: each in a session of its own, so that the
// CPU of everything it starts can be counted, with its standard streams where the caller says.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

struct ChildStreams {
    std::string stdinPath = "/dev/null";
    std::string stdoutPath = "/dev/null";  // ignored when stdoutFd is set
    int stdoutFd = -1;                     // 1: this process's own
    std::string stderrPath = "/dev/null";
};

// The environment of this process with extra entries ("NAME=value") before it; an extra entry
// hides the inherited one of its name.
inline std::vector<std::string> environmentWith(const std::vector<std::string>& extra) {
    std::vector<std::string> out = extra;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        bool hidden = false;
        for (const std::string& x : extra)
            hidden = hidden || x.compare(0, name.size() + 1, name + "=") == 0;
        if (!hidden) out.push_back(entry);
    }
    return out;
}

// Starts argv[0] (looked up in PATH) leading a new session; -1 when it could not start.
inline pid_t spawnChild(const std::vector<std::string>& argv, const ChildStreams& streams = {},
                        const std::vector<std::string>& env = environmentWith({})) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, streams.stdinPath.c_str(), O_RDWR, 0);
    if (streams.stdoutFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, streams.stdoutFd, 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, streams.stdoutPath.c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0600);
    }
    if (!streams.stderrPath.empty())  // empty: this process's own
        posix_spawn_file_actions_addopen(&actions, 2, streams.stderrPath.c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0600);
    // Nothing else of ours goes with it: a descriptor of the line it inherited would look as if
    // it had opened the port.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0], &actions, &attr, args.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    return pid;
}

// Waits for a child to end, at most timeoutMs; its exit code, or -1 when it did not end.
inline int waitChild(pid_t pid, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (r < 0 || std::chrono::steady_clock::now() > deadline) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// Ends a child's whole session and reaps the child.
inline void stopSession(pid_t leader) {
    if (leader <= 0) return;
    ::kill(-leader, SIGTERM);
    if (waitChild(leader, 2000) < 0) {
        ::kill(-leader, SIGKILL);
        waitChild(leader, 2000);
    }
}

// Seconds of CPU used so far by every live process of the given sessions, threads included.
inline double sessionsCpu(const std::vector<pid_t>& sessions) {
    double seconds = 0;
    const double tick = static_cast<double>(::sysconf(_SC_CLK_TCK));
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& pid : pids) {
        bool numeric = false;
        pid.toInt(&numeric);
        if (!numeric) continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly)) continue;
        const QByteArray line = stat.readAll();
        // Fields after the command, which may hold spaces: state ppid pgrp session ... utime
        // (14th field of the line) stime.
        const QList<QByteArray> f = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (f.size() < 13) continue;
        const pid_t session = f[3].toInt();
        for (const pid_t s : sessions) {
            if (s == session)
                seconds += static_cast<double>(f[11].toLongLong() + f[12].toLongLong()) / tick;
        }
    }
    return seconds;
}
