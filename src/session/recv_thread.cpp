// SPDX-License-Identifier: MIT
#include "session/recv_thread.h"

#include "session/port_driver.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <optional>

TRecvThread::TRecvThread(PortDriver& driver, int deviceFd)
    : m_driver(driver), m_deviceFd(deviceFd), m_wakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

TRecvThread::~TRecvThread() {
    requestTerminate();
    wait();
    if (m_wakeFd >= 0) ::close(m_wakeFd);
}

void TRecvThread::requestTerminate() {
    m_terminate.store(true);
    wake();
}

void TRecvThread::wake() {
    if (m_wakeFd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(m_wakeFd, &one, sizeof one);
    }
}

void TRecvThread::run() {
    bool byStopRequest = false;
    while (!m_terminate.load()) {
        std::optional<std::uint32_t> quiet;
        bool stop = false;
        QMetaObject::invokeMethod(
            &m_driver,
            [&] {
                quiet = m_driver.poll();
                stop = m_driver.state().receiveStopRequest;
            },
            Qt::BlockingQueuedConnection);
        if (stop) {
            byStopRequest = true;
            break;
        }
        if (m_terminate.load()) break;

        pollfd fds[2] = {{m_deviceFd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        int timeout = -1;
        if (quiet) timeout = static_cast<int>(std::min<std::uint32_t>(*quiet, 60'000));
        // Without a descriptor to watch (test doubles) fall back to a gentle pace.
        if (m_deviceFd < 0 && timeout < 0) timeout = 50;
        int rc;
        do {
            rc = ::poll(fds, 2, timeout);
        } while (rc < 0 && errno == EINTR);
        // Consume the wake-up, or every later sleep would end at once.
        if (rc > 0 && (fds[1].revents & POLLIN) != 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] ssize_t n = ::read(m_wakeFd, &count, sizeof count);
        }
    }
    PortDriver* driver = &m_driver;
    QMetaObject::invokeMethod(
        driver, [driver, self = this, byStopRequest] {
            driver->receiveThreadEnded(self, byStopRequest);
        },
        Qt::QueuedConnection);
}
