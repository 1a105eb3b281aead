// SPDX-License-Identifier: MIT
#include "support/child_listener.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <csignal>

ChildListener::ChildListener(const QString& path, uid_t uid) {
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (static_cast<std::size_t>(name.size()) >= sizeof addr.sun_path) return;
    std::copy(name.begin(), name.end(), addr.sun_path);
    int ready[2];
    if (::pipe(ready) != 0) return;
    m_pid = ::fork();
    if (m_pid == 0) {
        // Only async-signal-safe calls from here: the test process has threads. Raw set*id
        // calls, since the libc wrappers would try to reach threads that the fork left behind.
        ::close(ready[0]);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        const bool ok = fd >= 0 &&
                        ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
                        ::syscall(SYS_setgroups, 0, nullptr) == 0 &&
                        ::syscall(SYS_setresgid, uid, uid, uid) == 0 &&
                        ::syscall(SYS_setresuid, uid, uid, uid) == 0 && ::listen(fd, 16) == 0;
        const char answer = ok ? '1' : '0';
        (void)!::write(ready[1], &answer, 1);
        if (!ok) ::_exit(1);
        for (;;) ::pause();
    }
    ::close(ready[1]);
    if (m_pid > 0) {
        pollfd p{ready[0], POLLIN, 0};
        char answer = '0';
        if (::poll(&p, 1, 5000) == 1 && ::read(ready[0], &answer, 1) == 1)
            m_listening = answer == '1';
    }
    ::close(ready[0]);
}

ChildListener::~ChildListener() {
    if (m_pid <= 0) return;
    // SIGKILL: the test process may block the termination signals, and the child with it.
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
}
