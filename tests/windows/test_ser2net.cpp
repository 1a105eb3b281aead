// SPDX-License-Identifier: MIT
// The terminal on a port served by a real ser2net on the loopback address, in front of a pty
// whose far end the test plays: frames byte for byte both ways (FF bytes included), the line
// set through RFC 2217 as the pty sees it, and ser2net going away mid-session; each in the
// clear, over TLS with a server certificate, and with a client certificate required.
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "core/frame_format.h"
#include "core/unit_render.h"
#include "platform/dispatching_serial_device.h"
#include "session/event_wait.h"
#include "support/main_window_fixture.h"
#include "support/pty_master.h"
#include "support/ser2net_server.h"
#include "support/test_certificates.h"
#include "ui/qt_click_panel.h"

namespace {

enum class Security { Plain, ServerCertificate, ClientCertificate };

class Ser2netTest : public MainWindowTest, public ::testing::WithParamInterface<Security> {
protected:
    void SetUp() override {
        if (Ser2netServer::program().isEmpty())
            GTEST_SKIP() << "ser2net is not installed (./dev installs it); network ports untested";
        if (GetParam() != Security::Plain) {
            if (!TestCertificates::available()) GTEST_SKIP() << "openssl is not installed";
            const TestCertificates& c = TestCertificates::get();
            ASSERT_TRUE(c.ok()) << c.error();
            const bool client = GetParam() == Security::ClientCertificate;
            server.setTls(Ser2netServer::Tls{c.crt("server"), c.key("server"),
                                             client ? c.crt("ca") : std::string()},
                          "?ca=" + c.crt("ca") +
                              (client ? "&cert=" + c.crt("client") + "&key=" + c.key("client")
                                      : std::string()));
        }
        std::string error;
        auto pty = PtyPair::create(&error);
        ASSERT_TRUE(pty) << error;
        // ser2net opens and closes the slave with each connection; the line outlives them.
        ASSERT_TRUE(pty->holdSlave(&error)) << error;
        farEnd.emplace(std::move(*pty));
        ASSERT_TRUE(server.start(farEnd->slavePath(), Ser2netServer::Accepter::Rfc2217, &error))
            << error;
        writeIni("[COMPORT]\r\nPortName=" + server.portName().toLatin1() +
                 "\r\nBaudRate=115200\r\n");
        auto device = std::make_unique<DispatchingSerialDevice>();
        device->network().setWait([this](const std::function<bool()>& done, std::uint32_t ms) {
            return pumpUntil(done, ticks, ms);
        });
        dispatching = device.get();
        realDevice = std::move(device);
        start();
        // A network port opens from the event loop, once the window could show.
        EXPECT_EQ(status(), server.portName() + ":CONNECTING");
        ASSERT_TRUE(waitFor([this] { return context->port.isOpen(); })) << status().toStdString();
    }
    void TearDown() override {
        // The terminal goes before its server, as a user closes it.
        survey.reset();
        rem.reset();
        window.reset();
    }
    QByteArray take(std::size_t n) {
        const auto got = ptytest::readBytes(farEnd->masterFd(), n, std::chrono::seconds(3));
        return {reinterpret_cast<const char*>(got.data()), static_cast<qsizetype>(got.size())};
    }
    bool waitFor(const std::function<bool()>& done) { return pumpUntil(done, ticks, 5000); }
    QString status() const { return window->sBarPanel0->text(); }

    Ser2netServer server;
    DispatchingSerialDevice* dispatching = nullptr;
};

TEST_P(Ser2netTest, FramesCrossByteForByteBothWays) {
    window->cmbSend->setEditText(QStringLiteral("AB"));
    QTest::mouseClick(window->btnSend, Qt::LeftButton);
    EXPECT_EQ(take(15), QByteArray::fromHex("0F 5A 0F 00 00 FF FF FF FF FF FF FF FF 41 42"));
    window->showReceivedIds({0xFF, 0xFF, 0xFF, 0xFF}, {0xFF, 0x0B, 0xFF, 0xFF});
    window->cmbRFch->setCurrentIndex(5);
    window->cmbRFpw->setCurrentIndex(2);
    window->btnToRFchClick();
    EXPECT_EQ(take(21), QByteArray::fromHex(
                            "0F 5A 15 17 01 FF 0B FF FF FF FF FF FF 03 05 02 00 00 00 00 00"));
    EXPECT_TRUE(ptytest::readAvailable(farEnd->masterFd(), std::chrono::milliseconds(100)).empty())
        << "no telnet byte reaches the module";

    // The module's answer, FF bytes and all, through framing to the monitor.
    const QByteArray key =
        frameHeader(0x13, 0xFF, QByteArray(4, char(0xFF)), QByteArray::fromHex("FFFF0001"), 6) +
        QByteArray::fromHex("83 41 00 00 05 FA");
    ASSERT_TRUE(ptytest::writeAll(farEnd->masterFd(), {key.begin(), key.end()}));
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(key.constData());
    const QString line = renderHex({bytes, static_cast<std::size_t>(key.size())});
    EXPECT_TRUE(waitFor([&] { return window->memoRecv->toPlainText().startsWith(line); }))
        << window->memoRecv->toPlainText().toStdString();
}

TEST_P(Ser2netTest, TheLineIsSetOnTheFarPortAndReadBack) {
    const struct {
        int baud;
        int stopBits;
    } lines[] = {{1200, 1}, {9600, 2}, {56000, 1}, {76800, 2}, {115200, 1}};
    context->port.setReportOpenFailure(true);
    for (const auto& line : lines) {
        context->settings.link.baudRate = line.baud;
        context->settings.link.stopBits = line.stopBits;
        ASSERT_TRUE(context->port.open())
            << line.baud
            << (prompts.shown.empty() ? "" : prompts.shown.back().detail.toStdString());
        const auto far = ptytest::readMasterLine(farEnd->masterFd());
        ASSERT_TRUE(far);
        EXPECT_EQ(far->outputSpeed, static_cast<std::uint32_t>(line.baud));
        EXPECT_EQ(far->twoStopBits, line.stopBits == 2) << line.baud;
        EXPECT_FALSE(far->hardwareFlow || far->softwareFlow) << line.baud;
        ASSERT_TRUE(dispatching->applied());
        EXPECT_EQ(dispatching->applied()->baud, static_cast<std::uint32_t>(line.baud));
        EXPECT_EQ(dispatching->applied()->stopBits, line.stopBits);
    }
}

// ser2net killed mid-session is a device gone away: the port stops quietly, or with Reconnect
// waits and comes back once ser2net serves the port again.
TEST_P(Ser2netTest, Ser2netGoneMidSession) {
    for (const bool reconnect : {false, true}) {
        context->settings.link.reconnect = reconnect;
        context->port.reconnectChanged();
        server.kill();
        ASSERT_TRUE(waitFor([this] { return !context->port.isOpen(); })) << reconnect;
        // A send meanwhile is dropped without a second word.
        window->cmbSend->setEditText(QStringLiteral("AB"));
        QTest::mouseClick(window->btnSend, Qt::LeftButton);
        EXPECT_EQ(status(), server.portName() + (reconnect ? ":WAIT" : ":OFF"));
        EXPECT_TRUE(prompts.shown.empty()) << prompts.shown[0].text.toStdString();

        std::string error;
        ASSERT_TRUE(server.start(farEnd->slavePath(), Ser2netServer::Accepter::Rfc2217, &error,
                                 server.port()))
            << error;
        if (!reconnect) {
            ASSERT_TRUE(context->port.open());
        }
        ASSERT_TRUE(waitFor([this] { return context->port.isOpen(); })) << status().toStdString();
        EXPECT_EQ(status(), server.portName() + ":OK");
        static_cast<void>(
            ptytest::readAvailable(farEnd->masterFd(), std::chrono::milliseconds(50)));
        QTest::mouseClick(window->btnSend, Qt::LeftButton);
        EXPECT_EQ(take(15).right(2), QByteArray("AB")) << reconnect;
    }
}

INSTANTIATE_TEST_SUITE_P(, Ser2netTest,
                         ::testing::Values(Security::Plain, Security::ServerCertificate,
                                           Security::ClientCertificate),
                         [](const ::testing::TestParamInfo<Security>& p) {
                             return std::string(p.param == Security::Plain ? "Plain"
                                                : p.param == Security::ServerCertificate
                                                    ? "OverTls"
                                                    : "OverTlsWithClientCertificate");
                         });

}  // namespace

namespace {

// ser2net hangs up at once when the device behind it cannot be opened; the open fails soon
// and passes on what ser2net said.
TEST(Ser2netPorts, ADeviceTheServerCannotOpenSaysSo) {
    if (Ser2netServer::program().isEmpty())
        GTEST_SKIP() << "ser2net is not installed (./dev installs it); network ports untested";
    Ser2netServer server;
    std::string error;
    ASSERT_TRUE(server.start("/dev/norvale-absent", Ser2netServer::Accepter::Rfc2217, &error))
        << error;
    DispatchingSerialDevice device;
    QElapsedTimer t;
    t.start();
    const SerialError failed = device.open(server.portName().toStdString(), LineParams{});
    EXPECT_LT(t.elapsed(), 2000);
    EXPECT_NE(failed.message.find("Device open failure"), std::string::npos) << failed.message;
    EXPECT_FALSE(device.isOpen());
}

}  // namespace
