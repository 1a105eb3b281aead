// SPDX-License-Identifier: MIT
// The network device against scripted servers on the loopback address: opens that must fail
// (and how fast, and with what), and a session through a stream full of telnet commands.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QTimer>
#include <atomic>
#include <cstdlib>
#include <optional>
#include <random>
#include <thread>

#include "session/event_wait.h"
#include "platform/network_serial_device.h"
#include "platform/steady_ticks.h"
#include "support/scripted_telnet_server.h"

namespace {

using Bytes = Rfc2217Codec::Bytes;
using namespace std::chrono_literals;

using telnettest::hex;
using telnettest::kAnswers;
using telnettest::kGreeting;
using telnettest::ScriptedServer;

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

namespace {

// A server that keeps BINARY off both ways speaks NVT text, where a CR alone is CR NUL: the
// module's bytes still come through exactly, both ways.
TEST(NetworkSerialDevice, AServerWithoutBinaryCarriesTheBytesExactly) {
    const Bytes refusal = hex("FFFE00 FFFC00 FFFD2C");
    const Bytes module = hex("0D 41 0D 0A 0D 00 42");
    const Bytes nvt = hex("0D 00 41 0D 0A 0D 00 00 42");
    ScriptedServer server({refusal, kAnswers, nvt}, false);
    NetworkSerialDevice device;
    ASSERT_FALSE(device.open(server.name(), LineParams{}));
    ASSERT_TRUE(device.write(module.data(), module.size()));
    Bytes got;
    std::array<std::uint8_t, 256> buffer{};
    for (const auto until = std::chrono::steady_clock::now() + 3s;
         got.size() < module.size() && std::chrono::steady_clock::now() < until;) {
        pollfd entry{device.pollFd(), POLLIN, 0};
        ::poll(&entry, 1, 20);
        if (device.status().waiting == 0) continue;
        const long n = device.read(buffer.data(), buffer.size());
        if (n > 0) got.insert(got.end(), buffer.begin(), buffer.begin() + n);
    }
    EXPECT_EQ(got, module);
    const Bytes sent = server.received();
    ASSERT_GE(sent.size(), nvt.size());
    EXPECT_EQ(Bytes(sent.end() - static_cast<std::ptrdiff_t>(nvt.size()), sent.end()), nvt);
}

// The negotiation's time runs from the moment the connection stands: a connect that only
// stands at the SYN's retry (a second) and a server answering 0.8 s later still open.
TEST(NetworkSerialDevice, TheNegotiationTimeStartsWhenTheConnectionStands) {
    ScriptedServer::Script script{{kGreeting, kAnswers}, false};
    script.firstTurnDelay = 800ms;
    script.connectDelay = 300ms;
    ScriptedServer server(script);
    ASSERT_NE(server.port, 0);
    NetworkSerialDevice device;
    device.setTimeouts(3000ms, 1500ms);
    QElapsedTimer t;
    t.start();
    const SerialError error = device.open(server.name(), LineParams{});
    EXPECT_FALSE(error) << error.message;
    EXPECT_GT(t.elapsed(), 1500) << "the connect was meant to take a second";
}

// Runs a command line quietly; true when it succeeded.
bool run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// Two network namespaces joined by a veth pair, made for one test and removed after it.
class NamespacePair {
public:
    NamespacePair()
        : m_a("nvt-a-" + std::to_string(::getpid())), m_b("nvt-b-" + std::to_string(::getpid())) {
        const std::string veth = "nvt" + std::to_string(::getpid() % 100000);
        m_made = run("ip netns add " + m_a) && run("ip netns add " + m_b) &&
                 run("ip link add " + veth + "a netns " + m_a + " type veth peer name " + veth +
                     "b netns " + m_b) &&
                 run("ip -n " + m_a + " addr add 10.213.0.1/30 dev " + veth + "a") &&
                 run("ip -n " + m_b + " addr add 10.213.0.2/30 dev " + veth + "b") &&
                 run("ip -n " + m_a + " link set " + veth + "a up") &&
                 run("ip -n " + m_b + " link set " + veth + "b up");
        m_farLinkDown = "ip -n " + m_b + " link set " + veth + "b down";
    }
    ~NamespacePair() {
        run("ip netns del " + m_a);
        run("ip netns del " + m_b);
    }
    NamespacePair(const NamespacePair&) = delete;
    NamespacePair& operator=(const NamespacePair&) = delete;

    [[nodiscard]] bool made() const { return m_made; }
    bool takeFarLinkDown() const { return run(m_farLinkDown); }
    // Runs f with the calling thread in namespace a or b; sockets made meanwhile stay there.
    bool inside(bool far, const std::function<void()>& f) const {
        const UniqueFd home(::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC));
        const UniqueFd there(
            ::open(("/run/netns/" + (far ? m_b : m_a)).c_str(), O_RDONLY | O_CLOEXEC));
        if (!home.valid() || !there.valid() || ::setns(there.get(), CLONE_NEWNET) != 0)
            return false;
        f();
        return ::setns(home.get(), CLONE_NEWNET) == 0;
    }

private:
    std::string m_a;
    std::string m_b;
    std::string m_farLinkDown;
    bool m_made = false;
};

// The far machine's link goes down with one connection idle and one with a frame waiting to
// be acknowledged: both ports notice within the dead-peer time, not TCP's quarter of an hour.
TEST(NetworkSerialDevice, ADeadFarMachineIsNoticedWhetherDataWaitsOrNot) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root for network namespaces; dead peers untested";
    NamespacePair pair;
    if (!pair.made())
        GTEST_SKIP() << "network namespaces not permitted here (ip netns add); dead peers untested";
    UniqueFd listener;
    ASSERT_TRUE(pair.inside(true, [&] {
        listener.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_port = htons(2000);
        ::inet_pton(AF_INET, "10.213.0.2", &at.sin_addr);
        if (::bind(listener.get(), reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
            ::listen(listener.get(), 4) != 0)
            listener.reset();
    }));
    ASSERT_TRUE(listener.valid());
    NetworkSerialDevice idle;
    NetworkSerialDevice busy;
    ASSERT_TRUE(pair.inside(false, [&] {
        EXPECT_FALSE(idle.open("tcp://10.213.0.2:2000", LineParams{}));
        EXPECT_FALSE(busy.open("tcp://10.213.0.2:2000", LineParams{}));
    }));
    ASSERT_TRUE(idle.isOpen() && busy.isOpen());
    ASSERT_TRUE(pair.takeFarLinkDown());
    const auto down = std::chrono::steady_clock::now();
    const Bytes frame = hex("0F 5A 0F 00 00 FF FF FF FF FF FF FF FF 41 42");
    ASSERT_TRUE(busy.write(frame.data(), frame.size()));

    std::optional<std::chrono::steady_clock::duration> noticed[2];
    NetworkSerialDevice* devices[2] = {&idle, &busy};
    const auto limit = NetworkSerialDevice::kDeadPeerTime + 3s;
    while ((!noticed[0] || !noticed[1]) && std::chrono::steady_clock::now() - down < limit) {
        for (int i = 0; i < 2; ++i) {
            if (!noticed[i] && devices[i]->status().vanished)
                noticed[i] = std::chrono::steady_clock::now() - down;
        }
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_TRUE(noticed[0]) << "an idle line";
    EXPECT_TRUE(noticed[1]) << "a frame in flight";
    for (const auto& n : noticed) {
        if (n) {
            EXPECT_GT(*n, NetworkSerialDevice::kDeadPeerTime - 3s) << "not for another cause";
        }
    }
}

}  // namespace
