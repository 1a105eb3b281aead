// SPDX-License-Identifier: MIT
#pragma once
// A listening Unix socket held by a child process that binds it as we are and then listens as
// another user: what a local user squatting a socket name looks like to the peer check. Taking
// another uid needs root; with uid == geteuid() it is simply a listener of our own.

#include <sys/types.h>

#include <QString>

class ChildListener {
public:
    ChildListener(const QString& path, uid_t uid);
    ~ChildListener();
    ChildListener(const ChildListener&) = delete;
    ChildListener& operator=(const ChildListener&) = delete;

    // True once the child listens.
    [[nodiscard]] bool listening() const { return m_listening; }

private:
    pid_t m_pid = -1;
    bool m_listening = false;
};

// The user the squatters become: "nobody" on Debian.
inline constexpr uid_t kOtherUid = 65534;
