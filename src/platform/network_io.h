// SPDX-License-Identifier: MIT
#pragma once
// What the two halves of the network device share: opening it (network_serial_open.cpp) and
// the open session (network_serial_device.cpp). Internal to them.

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>

#include "platform/tls_session.h"

namespace netio {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

inline milliseconds left(Clock::time_point deadline) {
    return std::max(milliseconds(0), std::chrono::ceil<milliseconds>(deadline - Clock::now()));
}

inline bool connectionGone(int errnoValue) {
    return errnoValue == ECONNRESET || errnoValue == EPROTO || errnoValue == EPIPE ||
           errnoValue == ETIMEDOUT || errnoValue == ENOTCONN || errnoValue == EHOSTUNREACH ||
           errnoValue == ENETUNREACH || errnoValue == ECONNABORTED;
}

// recv(2) and send(2), through TLS where the connection has it.
inline ssize_t recvOn(int fd, TlsSession* tls, void* buffer, std::size_t n) {
    return tls ? tls->recv(buffer, n) : ::recv(fd, buffer, n, 0);
}

inline ssize_t sendOn(int fd, TlsSession* tls, const void* data, std::size_t n) {
    return tls ? tls->send(data, n) : ::send(fd, data, n, MSG_NOSIGNAL | MSG_DONTWAIT);
}

}  // namespace netio
