// SPDX-License-Identifier: MIT
// The network device against scripted servers on the loopback address: opens that must fail
// (and how fast, and with what), and a session through a stream full of telnet commands.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QTimer>
#include <atomic>
#include <random>
#include <thread>

#include "com/event_wait.h"
#include "platform/network_serial_device.h"
#include "platform/ticks.h"

namespace {

using Bytes = Rfc2217Codec::Bytes;
using namespace std::chrono_literals;

Bytes hex(const char* text) {
    const QByteArray b = QByteArray::fromHex(text);
    return {b.begin(), b.end()};
}

// Listens on a free loopback port. With turns, it accepts one client and, each time the
// client has sent something, answers with the next turn; after the last it hangs up or holds
// the line. Without turns it never accepts: the kernel completes the connection and nobody
// ever answers.
class ScriptedServer {
public:
    ScriptedServer(std::vector<Bytes> turns, bool hangUp)
        : m_listen(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof at;
        if (::bind(m_listen.get(), reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
            ::listen(m_listen.get(), 4) != 0 ||
            ::getsockname(m_listen.get(), reinterpret_cast<sockaddr*>(&at), &length) != 0)
            return;
        port = ntohs(at.sin_port);
        if (turns.empty()) return;
        m_thread = std::thread([this, turns = std::move(turns), hangUp] { serve(turns, hangUp); });
    }
    ~ScriptedServer() {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
    }
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    [[nodiscard]] std::string name() const { return "rfc2217://127.0.0.1:" + std::to_string(port); }
    std::uint16_t port = 0;

private:
    bool readable(int fd) const {
        for (int i = 0; i < 300 && !m_stop; ++i) {
            pollfd entry{fd, POLLIN, 0};
            if (::poll(&entry, 1, 10) > 0) return true;
        }
        return false;
    }
    void serve(const std::vector<Bytes>& turns, bool hangUp) {
        if (!readable(m_listen.get())) return;
        const UniqueFd client(::accept4(m_listen.get(), nullptr, nullptr, SOCK_CLOEXEC));
        std::array<std::uint8_t, 4096> sink{};
        for (const Bytes& turn : turns) {
            if (!readable(client.get()) || ::read(client.get(), sink.data(), sink.size()) <= 0)
                return;
            std::size_t done = 0;
            while (done < turn.size()) {
                const ssize_t n =
                    ::send(client.get(), turn.data() + done, turn.size() - done, MSG_NOSIGNAL);
                if (n <= 0) return;
                done += static_cast<std::size_t>(n);
            }
        }
        while (!hangUp && !m_stop) {
            if (readable(client.get()) && ::read(client.get(), sink.data(), sink.size()) <= 0)
                return;
        }
    }

    UniqueFd m_listen;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
};

const Bytes kGreeting = hex("FFFB03 FFFD03 FFFB01 FFFD00 FFFB00 FFFD2C");
// The server sets 57600 whatever was asked: the read-back shows what it set.
const Bytes kAnswers = hex("FFFA2C65 0000E100 FFF0 FFFA2C6608FFF0 FFFA2C6701FFF0 FFFA2C6801FFF0");

TEST(NetworkSerialDevice, OpensThatFailSayWhyWithinTheirTimeouts) {
    const struct {
        const char* what;
        std::vector<Bytes> turns;
        bool hangUp;
        const char* says;
    } cases[] = {
        {"a server that never answers", {}, false, "no RFC 2217 answer within 0.4 s"},
        {"a server without COM-PORT-OPTION", {hex("FFFE2C")}, true, "tcp://127.0.0.1:"},
        {"a server that hangs up with a message",
         {Bytes{'p', 'o', 'r', 't', ' ', 'i', 'n', ' ', 'u', 's', 'e', '\r', '\n'}},
         true,
         "closed the connection (\"port in use\")"},
        {"a server that sets no line", {kGreeting}, false, "no RFC 2217 answer within 0.4 s"},
    };
    for (const auto& c : cases) {
        ScriptedServer server(c.turns, c.hangUp);
        ASSERT_NE(server.port, 0);
        NetworkSerialDevice device;
        device.setTimeouts(400ms, 400ms);
        QElapsedTimer t;
        t.start();
        const SerialError error = device.open(server.name(), LineParams{});
        EXPECT_TRUE(error) << c.what;
        EXPECT_LT(t.elapsed(), 2000) << c.what;
        EXPECT_NE(error.message.find(c.says), std::string::npos) << c.what << ": " << error.message;
        EXPECT_FALSE(device.isOpen()) << c.what;
    }
    // Nobody listening at all.
    NetworkSerialDevice device;
    const SerialError refused = device.open("tcp://127.0.0.1:1", LineParams{});
    EXPECT_NE(refused.message.find("connect 127.0.0.1:1: Connection refused"), std::string::npos)
        << refused.message;
}

// The wait the program hands in keeps the event loop running: timers fire while the device
// waits for a server that never answers.
TEST(NetworkSerialDevice, TheNegotiationWaitKeepsTheEventLoopRunning) {
    ScriptedServer silent({}, true);
    SteadyTicks ticks;
    NetworkSerialDevice device;
    device.setWait([&ticks](const std::function<bool()>& done, std::uint32_t ms) {
        return pumpUntil(done, ticks, ms);
    });
    device.setTimeouts(400ms, 500ms);
    int fired = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        ++fired;
        // Closing meanwhile gives the open up at once.
        if (fired == 3) device.close();
    });
    timer.start(50);
    QElapsedTimer t;
    t.start();
    const SerialError error = device.open(silent.name(), LineParams{});
    EXPECT_NE(error.message.find("given up"), std::string::npos) << error.message;
    EXPECT_GE(fired, 3);
    EXPECT_LT(t.elapsed(), 400);
}

// A session whose stream is thick with telnet commands and ends in a line fault: the data
// comes out whole and the fault is a line error. (ser2net's tests stop a real server for
// the hangup.)
TEST(NetworkSerialDevice, ASessionThroughAStreamOfTelnetCommands) {
    std::mt19937 rng(7);
    Bytes garbage;
    for (int i = 0; i < 20000; ++i) {
        const std::uint8_t pick = static_cast<std::uint8_t>(rng());
        garbage.push_back(rng() % 3 == 0 ? Rfc2217Codec::kIac : pick);
    }
    // Ended so that what follows is read as data again: any open subnegotiation ends.
    garbage.insert(garbage.end(), {0xFF, 0xF0, 0xFF, 0xF1});
    Bytes second = kAnswers;
    const Bytes data = hex("0F 5A 0D FF FF 00 FF");
    Rfc2217Codec::escape(data, second);
    Bytes third = garbage;
    Rfc2217Codec::escape(data, third);
    const Bytes fault = hex("FFFA2C6A10FFF0");
    third.insert(third.end(), fault.begin(), fault.end());

    ScriptedServer server({kGreeting, second, third}, false);
    NetworkSerialDevice device;
    ASSERT_FALSE(device.open(server.name(), LineParams{115200, 8, Parity::None, 1}));
    ASSERT_TRUE(device.applied());
    EXPECT_EQ(device.applied()->baud, 57600U) << "the rate the server set, not the one asked";

    Bytes got;
    bool error = false;
    bool vanished = false;
    std::array<std::uint8_t, 4096> buffer{};
    const auto until = std::chrono::steady_clock::now() + 5s;
    // Anything sent makes the server play its next turn.
    ASSERT_TRUE(device.write(data.data(), data.size()));
    while ((!error || got.size() < 2 * data.size()) && std::chrono::steady_clock::now() < until) {
        const SerialStatus s = device.status();
        error = error || s.error;
        vanished = vanished || s.vanished;
        for (int left = s.waiting; left > 0;) {
            const long n = device.read(buffer.data(), buffer.size());
            if (n <= 0) break;
            got.insert(got.end(), buffer.begin(), buffer.begin() + n);
            left -= static_cast<int>(n);
        }
        pollfd entry{device.pollFd(), POLLIN, 0};
        ::poll(&entry, 1, 20);
    }
    EXPECT_TRUE(error) << "a break notified is a line error";
    EXPECT_FALSE(vanished);
    ASSERT_GE(got.size(), 2 * data.size());
    EXPECT_EQ(Bytes(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(data.size())), data);
    EXPECT_EQ(Bytes(got.end() - static_cast<std::ptrdiff_t>(data.size()), got.end()), data);
    device.close();
    EXPECT_FALSE(device.isOpen());
}

}  // namespace
