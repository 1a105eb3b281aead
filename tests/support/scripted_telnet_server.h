// SPDX-License-Identifier: MIT
#pragma once
// A telnet server on a free loopback port that plays a script. With turns, it accepts one
// client and, each time the client has sent something, answers with the next turn (the first
// after firstTurnDelay); after the last it hangs up or holds the line, and records all it was sent
// and when the client hung up. Without turns it never accepts: the kernel completes the connection
// and nobody ever answers. With connectDelay its accept queue is kept full for that long, so that
// the client's connect only stands at its SYN's retry (one second).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QByteArray>
#include <array>
#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux_serial_device.h"

namespace telnettest {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

inline Bytes hex(const char* text) {
    const QByteArray b = QByteArray::fromHex(text);
    return {b.begin(), b.end()};
}

class ScriptedServer {
public:
    struct Script {
        std::vector<Bytes> turns;
        bool hangUp = false;
        std::chrono::milliseconds firstTurnDelay{0};
        std::chrono::milliseconds connectDelay{0};
    };

    explicit ScriptedServer(Script script)
        : m_script(std::move(script)), m_listen(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof at;
        const int backlog = m_script.connectDelay.count() > 0 ? 0 : 4;
        if (::bind(m_listen.get(), reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
            ::listen(m_listen.get(), backlog) != 0 ||
            ::getsockname(m_listen.get(), reinterpret_cast<sockaddr*>(&at), &length) != 0)
            return;
        if (backlog == 0) {
            // One connection nobody accepts fills a queue of length 0.
            m_filler.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
            if (::connect(m_filler.get(), reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) return;
        }
        port = ntohs(at.sin_port);
        if (m_script.turns.empty()) return;
        m_thread = std::thread([this] { serve(); });
    }
    ScriptedServer(std::vector<Bytes> turns, bool hangUp)
        : ScriptedServer(Script{std::move(turns), hangUp}) {}
    ~ScriptedServer() {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
    }
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    [[nodiscard]] std::string name() const { return "rfc2217://127.0.0.1:" + std::to_string(port); }
    [[nodiscard]] Bytes received() const {
        const std::lock_guard lock(m_mutex);
        return m_received;
    }
    // How many bytes had come when; and when the client hung up.
    [[nodiscard]] std::size_t receivedBy(Clock::time_point t) const {
        const std::lock_guard lock(m_mutex);
        std::size_t n = 0;
        for (const auto& [at, count] : m_arrivals)
            if (at <= t) n += count;
        return n;
    }
    [[nodiscard]] std::optional<Clock::time_point> hungUpAt() const {
        const std::lock_guard lock(m_mutex);
        return m_hungUp;
    }
    std::uint16_t port = 0;

private:
    bool readable(int fd) const {
        for (int i = 0; i < 300 && !m_stop; ++i) {
            pollfd entry{fd, POLLIN, 0};
            if (::poll(&entry, 1, 10) > 0) return true;
        }
        return false;
    }
    // One read from the client, recorded; false at its hangup or an error.
    bool take(int fd) {
        std::array<std::uint8_t, 4096> chunk{};
        const ssize_t n = ::read(fd, chunk.data(), chunk.size());
        const std::lock_guard lock(m_mutex);
        if (n <= 0) {
            m_hungUp = Clock::now();
            return false;
        }
        m_received.insert(m_received.end(), chunk.begin(), chunk.begin() + n);
        m_arrivals.emplace_back(Clock::now(), static_cast<std::size_t>(n));
        return true;
    }
    void serve() {
        if (m_filler.valid()) {
            std::this_thread::sleep_for(m_script.connectDelay);
            if (!readable(m_listen.get())) return;
            UniqueFd(::accept4(m_listen.get(), nullptr, nullptr, SOCK_CLOEXEC));
        }
        if (!readable(m_listen.get())) return;
        const UniqueFd client(::accept4(m_listen.get(), nullptr, nullptr, SOCK_CLOEXEC));
        for (const Bytes& turn : m_script.turns) {
            if (!readable(client.get()) || !take(client.get())) return;
            const auto delay = &turn == &m_script.turns.front() ? m_script.firstTurnDelay
                                                                : std::chrono::milliseconds(0);
            for (auto until = Clock::now() + delay; Clock::now() < until;) {
                pollfd entry{client.get(), POLLIN, 0};
                if (::poll(&entry, 1, 5) > 0 && !take(client.get())) return;
            }
            std::size_t done = 0;
            while (done < turn.size()) {
                const ssize_t n =
                    ::send(client.get(), turn.data() + done, turn.size() - done, MSG_NOSIGNAL);
                if (n <= 0) return;
                done += static_cast<std::size_t>(n);
            }
        }
        while (!m_script.hangUp && !m_stop) {
            if (readable(client.get()) && !take(client.get())) return;
        }
    }

    Script m_script;
    UniqueFd m_listen;
    UniqueFd m_filler;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    Bytes m_received;
    std::vector<std::pair<Clock::time_point, std::size_t>> m_arrivals;
    std::optional<Clock::time_point> m_hungUp;
};

// The greeting of a server that takes BINARY both ways, and its answers to the line settings
// (it sets 57600 whatever was asked: the read-back shows what it set).
inline const Bytes kGreeting = hex("FFFB03 FFFD03 FFFB01 FFFD00 FFFB00 FFFD2C");
inline const Bytes kAnswers =
    hex("FFFA2C65 0000E100 FFF0 FFFA2C6608FFF0 FFFA2C6701FFF0 FFFA2C6801FFF0");

}  // namespace telnettest
