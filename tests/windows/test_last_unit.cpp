// SPDX-License-Identifier: MIT
// The bytes that arrive just before the line ends (the far end hangs up, the port is closed,
// the window quits as on SIGTERM) end their unit as the silence would: shown and captured, on
// a pty and on a network port whose server hangs up.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QPlainTextEdit>

#include "session/event_wait.h"
#include "core/unit_render.h"
#include "platform/dispatching_serial_device.h"
#include "support/main_window_fixture.h"
#include "support/pty_master.h"

namespace {

// A module behind a plain TCP port on the loopback: says its last words, then hangs up.
class ScriptedServer {
public:
    ScriptedServer() {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof at;
        auto* addr = reinterpret_cast<sockaddr*>(&at);
        if (m_listener < 0 || ::bind(m_listener, addr, size) != 0 || ::listen(m_listener, 4) != 0 ||
            ::getsockname(m_listener, addr, &size) != 0)
            return;
        m_port = ntohs(at.sin_port);
    }
    ~ScriptedServer() {
        if (m_listener >= 0) ::close(m_listener);
    }
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    [[nodiscard]] int port() const { return m_port; }
    // Takes the terminal's connection (queued by the backlog), sends bytes and closes it.
    bool sayAndHangUp(const QByteArray& bytes) const {
        pollfd ready{m_listener, POLLIN, 0};
        if (::poll(&ready, 1, 5000) != 1) return false;
        const int conn = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (conn < 0) return false;
        const bool sent = ::send(conn, bytes.constData(), static_cast<size_t>(bytes.size()),
                                 MSG_NOSIGNAL) == bytes.size();
        ::close(conn);
        return sent;
    }

private:
    int m_listener = -1;
    int m_port = 0;
};

class LastUnitTest : public MainWindowTest {
protected:
    void TearDown() override { reset(); }
    void reset() {
        if (context) context->capture.stop();
        survey.reset();
        rem.reset();
        window.reset();
        context.reset();
        realDevice.reset();
    }
    void startOnNetwork(const ScriptedServer& server, const QByteArray& moreIni) {
        writeIni("[COMPORT]\r\nPortName=tcp://127.0.0.1:" + QByteArray::number(server.port()) +
                 "\r\n" + moreIni);
        auto device = std::make_unique<DispatchingSerialDevice>();
        device->network().setWait([this](const std::function<bool()>& done, std::uint32_t ms) {
            return pumpUntil(done, ticks, ms);
        });
        realDevice = std::move(device);
        start();
        // A network port opens after the window shows.
        ASSERT_TRUE(pumpUntil([&] { return context->port.isOpen(); }, ticks, 5000));
    }
};

TEST_F(LastUnitTest, BytesBeforeTheLineEndsAreShownAndCaptured) {
    enum class End { Hangup, Close, Quit };
    struct Case {
        const char* name;
        bool network;
        End end;
        bool reconnect;
    };
    const Case cases[] = {
        {"pty-hangup", false, End::Hangup, false},
        {"pty-hangup-reconnect", false, End::Hangup, true},
        {"pty-close", false, End::Close, false},
        {"pty-quit", false, End::Quit, false},
        {"net-hangup", true, End::Hangup, false},
        {"net-hangup-reconnect", true, End::Hangup, true},
    };
    const QByteArray bye("module: bye\r\n");
    const QString rendered =
        renderHex({reinterpret_cast<const std::uint8_t*>(bye.constData()), std::size_t(13)});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        reset();
        // No silence can end the unit within the test: only the end of the line can.
        const QByteArray ini =
            QByteArray("RecvTout=60000\r\n") + (c.reconnect ? "Reconnect=1\r\n" : "");
        ScriptedServer server;
        ASSERT_NE(server.port(), 0);
        if (c.network) {
            startOnNetwork(server, ini);
        } else {
            startOnPty(ini);
        }
        const QString path = dir.filePath(QString::fromLatin1(c.name) + QStringLiteral(".log"));
        ASSERT_FALSE(window->startCapture(path));

        if (c.network) {
            ASSERT_TRUE(server.sayAndHangUp(bye));
        } else {
            ASSERT_TRUE(ptytest::writeAll(farEnd->masterFd(), {bye.begin(), bye.end()}));
            // The bytes are in the pending unit before the line ends.
            ASSERT_TRUE(
                pumpUntil([&] { return window->receivePipeline().framing().pendingLength() == 13; },
                          ticks, 3000));
            if (c.end == End::Hangup) farEnd->closeMaster();
            if (c.end == End::Close) window->btnComOpenClick();
            if (c.end == End::Quit) window->close();
        }
        ASSERT_TRUE(pumpUntil([&] { return !context->port.isOpen(); }, ticks, 3000));

        EXPECT_TRUE(window->memoRecv->toPlainText().contains(rendered))
            << window->memoRecv->toPlainText().toStdString();
        EXPECT_EQ(window->receivePipeline().framing().pendingLength(), 0);
        window->stopCapture();
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_TRUE(file.readAll().endsWith(" =>" + rendered.toLatin1() + "\r\n"));
    }
}

}  // namespace
