// SPDX-License-Identifier: MIT
#pragma once
// SIGTERM, SIGINT and SIGHUP (logout, shutdown, Ctrl-C in the launching terminal) become a
// Qt signal on the UI thread, so the program closes its main window as Quit does: settings
// saved, port closed. The signals are blocked and read from a signalfd; no handler runs in
// signal context.
//
// The signalfd is read by a watcher thread of its own, not by the UI thread, so that a hung
// window can still be stopped without SIGKILL: a second signal while the first is pending, or
// the first left unanswered by the UI thread for the grace time, ends the process at once with
// _exit (128 + the signal's number), leaving the settings as they are on disk.
//
// Children get the signals unblocked again: a mask inherited across exec would make every
// helper started by a library deaf to all three, and it would outlive us.

#include <QObject>
#include <atomic>
#include <chrono>
#include <thread>

class TerminationSignals final : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kGrace{3000};

    // Blocks the signals for this thread and every thread started after it: call first thing
    // in main(), before any thread exists.
    static void blockInProcess();

    explicit TerminationSignals(std::chrono::milliseconds grace = kGrace,
                                QObject* parent = nullptr);
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    [[nodiscard]] bool isWatching() const { return m_signalFd >= 0; }

Q_SIGNALS:
    void terminationRequested(int signalNumber);

private:
    void watch();

    std::chrono::milliseconds m_grace;
    int m_signalFd = -1;
    int m_wakeFd = -1;  // an eventfd: the destructor's "stop"
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_answered{false};
    std::thread m_watcher;
};
