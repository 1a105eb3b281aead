// SPDX-License-Identifier: MIT
// A network port once open: reads, writes, the telnet answers owed to the server, status and
// the close.
#include "platform/network_serial_device.h"

#include <poll.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <span>

#include "platform/network_io.h"

namespace {

using namespace netio;

// A server that reads none of our answers is not worth answering without end.
constexpr std::size_t kMaxUnsentReplies = 64 * 1024;

}  // namespace

NetworkSerialDevice::~NetworkSerialDevice() { close(); }

void NetworkSerialDevice::close() {
    if (m_attempt) {
        giveUp(*m_attempt);
        m_attempt.reset();
    }
    if (!m_socket.valid()) return;
    if (m_telnet && !m_vanished) {
        // Best effort and without waiting: the port is let go either way.
        const Rfc2217Codec::Bytes bye = Rfc2217Codec::closing();
        static_cast<void>(sendOn(m_socket.get(), m_tls.get(), bye.data(), bye.size()));
    }
    if (m_tls && !m_vanished) m_tls->shutdown();
    forget();
}

void NetworkSerialDevice::forget() {
    m_tls.reset();
    m_socket.reset();
    m_telnet = false;
    m_codec = {};
    m_unsentReplies.clear();
    m_early.clear();
    m_vanished = false;
}

std::optional<LineParams> NetworkSerialDevice::applied() const {
    if (!m_socket.valid() || !m_telnet) return std::nullopt;
    return m_codec.reported(m_requested);
}

SerialStatus NetworkSerialDevice::status() {
    SerialStatus result;
    if (!m_socket.valid()) {
        result.error = true;
        return result;
    }
    if (m_telnet) flushReplies(false);
    int raw = 0;
    if (::ioctl(m_socket.get(), FIONREAD, &raw) != 0) {
        result.error = true;
        raw = 0;
    }
    result.waiting = static_cast<int>(m_early.size()) + raw + (m_tls ? m_tls->pending() : 0);
    // The bytes sent before a hangup are read first; the hangup counts once they are.
    // The peer closed or reset the connection, with nothing left to read before it.
    if (result.waiting == 0 && hangupSeen(m_socket.get(), true)) m_vanished = true;
    if (m_telnet && m_codec.takeLineFault()) result.error = true;
    if (m_vanished) {
        result.error = true;
        result.vanished = true;
    }
    return result;
}

long NetworkSerialDevice::read(std::uint8_t* buffer, std::size_t n) {
    if (!m_socket.valid()) return -1;
    if (n == 0) return 0;
    if (!m_early.empty()) {
        const std::size_t k = std::min(n, m_early.size());
        std::copy_n(m_early.begin(), k, buffer);
        m_early.erase(m_early.begin(), m_early.begin() + static_cast<std::ptrdiff_t>(k));
        return static_cast<long>(k);
    }
    for (;;) {
        const ssize_t got = recvOn(m_socket.get(), m_tls.get(), buffer, n);
        if (got > 0) {
            if (!m_telnet) return static_cast<long>(got);
            const std::size_t k =
                m_codec.receive(std::span(buffer, static_cast<std::size_t>(got)), buffer);
            flushReplies(false);
            // Telnet commands alone: read on, for over TLS nothing may be left decrypted
            // behind a read that returned nothing.
            if (k == 0) continue;
            return static_cast<long>(k);
        }
        if (got == 0) {
            m_vanished = true;
            return -1;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN) return 0;
        if (connectionGone(errno)) m_vanished = true;
        return -1;
    }
}

bool NetworkSerialDevice::write(const std::uint8_t* data, std::size_t n) {
    if (!m_socket.valid()) return false;
    if (!m_telnet) return sendAll(m_socket.get(), m_tls.get(), data, n);
    if (!flushReplies(true)) return false;
    Rfc2217Codec::Bytes escaped;
    m_codec.encode(std::span(data, n), escaped);
    return sendAll(m_socket.get(), m_tls.get(), escaped.data(), escaped.size());
}

bool NetworkSerialDevice::flushReplies(bool wait) {
    Rfc2217Codec::Bytes more = m_codec.takeReplies();
    if (m_unsentReplies.size() + more.size() <= kMaxUnsentReplies)
        m_unsentReplies.insert(m_unsentReplies.end(), more.begin(), more.end());
    if (m_unsentReplies.empty()) return true;
    if (wait) {
        const bool sent =
            sendAll(m_socket.get(), m_tls.get(), m_unsentReplies.data(), m_unsentReplies.size());
        m_unsentReplies.clear();
        return sent;
    }
    const ssize_t put =
        sendOn(m_socket.get(), m_tls.get(), m_unsentReplies.data(), m_unsentReplies.size());
    if (put > 0) {
        m_unsentReplies.erase(m_unsentReplies.begin(), m_unsentReplies.begin() + put);
        return true;
    }
    if (put < 0 && errno != EAGAIN && errno != EINTR) {
        if (connectionGone(errno)) m_vanished = true;
        return false;
    }
    return true;
}

bool NetworkSerialDevice::sendAll(int fd, TlsSession* tls, const std::uint8_t* data,
                                  std::size_t n) {
    std::size_t done = 0;
    auto giveUpAt = Clock::now() + m_writeStallLimit;
    while (done < n) {
        const ssize_t put = sendOn(fd, tls, data + done, n - done);
        if (put > 0) {
            done += static_cast<std::size_t>(put);
            giveUpAt = Clock::now() + m_writeStallLimit;
            continue;
        }
        if (put < 0 && errno == EINTR) continue;
        if (put < 0 && errno != EAGAIN) {
            if (connectionGone(errno) && fd == m_socket.get()) m_vanished = true;
            return false;
        }
        // The socket buffer is full: a server that stopped reading gets as long as a local
        // line that stopped draining.
        const milliseconds wait = left(giveUpAt);
        if (wait.count() == 0) {
            errno = ETIMEDOUT;
            return false;
        }
        pollfd entry{fd, POLLOUT, 0};
        const int ready =
            ::poll(&entry, 1, static_cast<int>(std::min<long long>(wait.count(), 10)));
        if (ready < 0 && errno != EINTR) return false;
    }
    return true;
}
