// SPDX-License-Identifier: MIT
#pragma once
// Paces the polls of the open port. The thread never touches the port or any state: it asks
// the UI thread to run one poll, waits until it has run, then sleeps in poll(2) until the
// descriptor has news, the pending unit's timeout is due, or a stop is requested.

#include <QThread>

#include <atomic>

class PortDriver;

class TRecvThread final : public QThread {
    Q_OBJECT
public:
    TRecvThread(PortDriver& driver, int deviceFd);
    ~TRecvThread() override;
    TRecvThread(const TRecvThread&) = delete;
    TRecvThread& operator=(const TRecvThread&) = delete;

    // Ends the thread after its current poll. Safe from any thread.
    void requestTerminate();
    // Cuts the current sleep short so that the next poll runs now (a stop request made on
    // the UI thread on a quiet line). Safe from any thread.
    void wake();

protected:
    void run() override;

private:
    PortDriver& m_driver;
    int m_deviceFd;
    int m_wakeFd = -1;
    std::atomic<bool> m_terminate{false};
};
