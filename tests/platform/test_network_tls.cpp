// SPDX-License-Identifier: MIT
// Network ports over TLS against a real ser2net with certificates made for the run: bytes both
// ways (FF included) with a server certificate and with a required client certificate, and
// each refusal with a message that says which, never falling back to plain TCP.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <chrono>

#include "platform/network_serial_device.h"
#include "platform/pty_pair.h"
#include "support/pty_master.h"
#include "support/ser2net_server.h"
#include "support/test_certificates.h"

namespace {

using std::chrono::milliseconds;

// Reads from the open device until n bytes came or three seconds passed.
std::vector<std::uint8_t> readDevice(NetworkSerialDevice& device, std::size_t n) {
    std::vector<std::uint8_t> got;
    ptytest::waitUntil(
        [&] {
            std::array<std::uint8_t, 256> chunk{};
            const SerialStatus status = device.status();
            if (status.error) return true;
            if (status.waiting > 0) {
                const long k = device.read(chunk.data(), chunk.size());
                if (k > 0) got.insert(got.end(), chunk.begin(), chunk.begin() + k);
            }
            return got.size() >= n;
        },
        std::chrono::seconds(3));
    return got;
}

TEST(NetworkTls, BytesCrossAndEveryRefusalSaysWhich) {
    if (Ser2netServer::program().isEmpty()) GTEST_SKIP() << "ser2net is not installed";
    if (!TestCertificates::available()) GTEST_SKIP() << "openssl is not installed";
    const TestCertificates& c = TestCertificates::get();
    ASSERT_TRUE(c.ok()) << c.error();
    std::string error;
    auto pty = PtyPair::create(&error);
    ASSERT_TRUE(pty) << error;
    ASSERT_TRUE(pty->holdSlave(&error)) << error;

    using A = Ser2netServer::Accepter;
    const std::string ca = "?ca=" + c.crt("ca");
    const std::string client = ca + "&cert=" + c.crt("client") + "&key=" + c.key("client");
    const Ser2netServer::Tls server{c.crt("server"), c.key("server"), {}};
    const Ser2netServer::Tls clientAuth{c.crt("server"), c.key("server"), c.crt("ca")};
    const struct {
        const char* what;
        A accepter;
        std::optional<Ser2netServer::Tls> tls;
        std::string name;  // SCHEME://HOST then the test's port, then the query
        std::string query;
        const char* says;  // nothing: the port opens and carries bytes both ways
    } cases[] = {
        {"a server certificate", A::Rfc2217, server, "rfc2217+tls://127.0.0.1", ca, nullptr},
        {"a required client certificate, by host name", A::Rfc2217, clientAuth,
         "rfc2217+tls://localhost", client, nullptr},
        {"raw TCP with a client certificate", A::RawTcp, clientAuth, "tcp+tls://127.0.0.1", client,
         nullptr},
        {"an unknown CA", A::Rfc2217, Ser2netServer::Tls{c.crt("stranger"), c.key("stranger"), {}},
         "rfc2217+tls://127.0.0.1", ca, "(unknown CA); subject CN = localhost, SHA-256 "},
        {"the system's CAs know no test CA", A::Rfc2217, server, "rfc2217+tls://127.0.0.1", "",
         "(unknown CA)"},
        {"a certificate for another host", A::Rfc2217,
         Ser2netServer::Tls{c.crt("elsewhere"), c.key("elsewhere"), {}}, "rfc2217+tls://127.0.0.1",
         ca, "not made out to 127.0.0.1 (wrong host); subject CN = elsewhere.example"},
        {"an expired certificate", A::Rfc2217,
         Ser2netServer::Tls{c.crt("expired"), c.key("expired"), {}}, "rfc2217+tls://127.0.0.1", ca,
         "has expired"},
        {"a client certificate required, none given", A::Rfc2217, clientAuth,
         "rfc2217+tls://127.0.0.1", ca, "requires a client certificate"},
        {"the same on raw TCP", A::RawTcp, clientAuth, "tcp+tls://127.0.0.1", ca,
         "client certificate"},
        {"a client certificate of another CA", A::Rfc2217, clientAuth, "rfc2217+tls://127.0.0.1",
         ca + "&cert=" + c.crt("intruder") + "&key=" + c.key("intruder"),
         "refused the client certificate"},
        {"a revocation list that does not name it", A::Rfc2217, server, "rfc2217+tls://127.0.0.1",
         ca + "&crl=" + c.crl(), nullptr},
        {"a revoked certificate", A::Rfc2217,
         Ser2netServer::Tls{c.crt("revoked"), c.key("revoked"), {}}, "rfc2217+tls://127.0.0.1",
         ca + "&crl=" + c.crl(), "has been revoked"},
        {"a plain server at a TLS name", A::Rfc2217, std::nullopt, "rfc2217+tls://127.0.0.1", ca,
         "does not answer in TLS"},
        {"a TLS server at a plain name", A::Rfc2217, server, "rfc2217://127.0.0.1", "",
         "without a word (a port with TLS in front? rfc2217+tls://127.0.0.1:"},
        {"a CA file that is not there", A::Rfc2217, server, "rfc2217+tls://127.0.0.1",
         "?ca=/nonexistent/ca.crt", "the CA file /nonexistent/ca.crt cannot be read"},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.what);
        Ser2netServer ser2net;
        ser2net.setTls(t.tls);
        ASSERT_TRUE(ser2net.start(pty->slavePath(), t.accepter, &error)) << error;
        NetworkSerialDevice device;
        const std::string name = t.name + ":" + std::to_string(ser2net.port()) + t.query;
        QElapsedTimer timer;
        timer.start();
        const SerialError opened = device.open(name, LineParams{115200});
        if (t.says) {
            EXPECT_TRUE(opened) << name;
            EXPECT_NE(opened.message.find(t.says), std::string::npos) << opened.message;
            // Said at once, not after the negotiation's three seconds of silence.
            EXPECT_LT(timer.elapsed(), 2000) << opened.message;
            EXPECT_FALSE(device.isOpen());
            continue;
        }
        ASSERT_FALSE(opened) << opened.message;
        static_cast<void>(ptytest::readAvailable(pty->masterFd(), milliseconds(50)));
        const std::vector<std::uint8_t> out{0x0F, 0x5A, 0xFF, 0xFF, 0x00, 0xFF, 0x0D, 0x0A};
        ASSERT_TRUE(device.write(out.data(), out.size()));
        EXPECT_EQ(ptytest::readBytes(pty->masterFd(), out.size(), std::chrono::seconds(3)), out);
        const std::vector<std::uint8_t> in{0xFF, 0xFF, 0xFA, 0x2C, 0x00, 0x0F, 0x5A, 0xFF};
        ASSERT_TRUE(ptytest::writeAll(pty->masterFd(), in));
        EXPECT_EQ(readDevice(device, in.size()), in);
        device.close();
    }
}

}  // namespace
