// SPDX-License-Identifier: MIT
#include "platform/termination_signals.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

sigset_t allThree() {
    sigset_t set;
    sigemptyset(&set);
    for (const int sig : kSignals) sigaddset(&set, sig);
    return set;
}

// Runs in the child between fork() and exec: only async-signal-safe calls.
void unblockInChild() {
    const sigset_t set = allThree();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

[[noreturn]] void endAtOnce(int sig, const char* why) {
    char line[160];
    const int n = std::snprintf(line, sizeof line, "norvale-term: %s (signal %d): ending at once\n",
                                why, sig);
    if (n > 0) (void)!::write(STDERR_FILENO, line, static_cast<size_t>(n));
    ::_exit(128 + sig);
}

}  // namespace

void TerminationSignals::blockInProcess() {
    const sigset_t set = allThree();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    // pthread_atfork covers fork() only; a child made by posix_spawn or a raw clone keeps
    // whatever mask its spawner gives it.
    static const bool registered = pthread_atfork(nullptr, nullptr, &unblockInChild) == 0;
    (void)registered;
}

TerminationSignals::TerminationSignals(std::chrono::milliseconds grace, QObject* parent)
    : QObject(parent), m_grace(grace) {
    const sigset_t set = allThree();
    m_signalFd = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    m_wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_signalFd < 0 || m_wakeFd < 0) {
        if (m_signalFd >= 0) ::close(m_signalFd);
        if (m_wakeFd >= 0) ::close(m_wakeFd);
        m_signalFd = m_wakeFd = -1;
        return;
    }
    m_watcher = std::thread([this] { watch(); });
}

TerminationSignals::~TerminationSignals() {
    if (m_watcher.joinable()) {
        m_stopping = true;
        const std::uint64_t one = 1;
        (void)!::write(m_wakeFd, &one, sizeof one);
        m_watcher.join();
    }
    if (m_signalFd >= 0) ::close(m_signalFd);
    if (m_wakeFd >= 0) ::close(m_wakeFd);
}

// The watcher thread. The clean path stays on the UI thread; this thread only hands the
// first signal over and, if the UI thread does not take it up in time or a second signal
// comes, ends the process.
void TerminationSignals::watch() {
    using Clock = std::chrono::steady_clock;
    int pending = 0;  // the first signal's number, 0 before it came
    Clock::time_point deadline;
    while (!m_stopping) {
        int timeoutMs = -1;
        if (pending != 0 && !m_answered) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            timeoutMs = static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
        }
        pollfd fds[2] = {{m_signalFd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        const int ready = ::poll(fds, 2, timeoutMs);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (m_stopping) return;
        if (ready == 0) {
            if (!m_answered) endAtOnce(pending, "the window did not answer the signal");
            continue;
        }
        signalfd_siginfo info{};
        while (::read(m_signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            const int sig = static_cast<int>(info.ssi_signo);
            if (pending != 0) endAtOnce(sig, "a second signal came while closing");
            pending = sig;
            deadline = Clock::now() + m_grace;
            QMetaObject::invokeMethod(
                this,
                [this, sig] {
                    m_answered = true;
                    Q_EMIT terminationRequested(sig);
                },
                Qt::QueuedConnection);
        }
    }
}
