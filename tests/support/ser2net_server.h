// SPDX-License-Identifier: MIT
#pragma once
// A real ser2net on 127.0.0.1, serving one local device (a pty in the tests) on a free port
// with its own YAML file in a temporary folder. Shared by the network-port tests and the
// flood bench; header-only so that the bench needs nothing else of the tests.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

class Ser2netServer {
public:
    enum class Accepter { Rfc2217, RawTcp };
    // TLS in front: ser2net's certificate, and with clientAuthCa the CA whose clients it takes
    // (and no client without a certificate). ser2net looks a client up by its certificate's
    // common name, clientUser, in its auth folder, which trusts that CA for that user.
    struct Tls {
        std::string cert;
        std::string key;
        std::string clientAuthCa;
        std::string clientUser = "kit-user";
    };
    // Kept for every later start; the port name then asks for TLS with clientFiles as its
    // query ("?ca=...&cert=...").
    void setTls(std::optional<Tls> tls, std::string clientFiles = {}) {
        m_tls = std::move(tls);
        m_clientFiles = std::move(clientFiles);
    }

    // Where ser2net is installed; empty when it is not.
    static QString program() {
        const QString inPath = QStandardPaths::findExecutable(QStringLiteral("ser2net"));
        if (!inPath.isEmpty()) return inPath;
        return QStandardPaths::findExecutable(
            QStringLiteral("ser2net"), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    }

    Ser2netServer() = default;
    Ser2netServer(const Ser2netServer&) = delete;
    Ser2netServer& operator=(const Ser2netServer&) = delete;
    ~Ser2netServer() { stop(); }

    // Serves devicePath at port (a free one when 0); false with *error when ser2net is missing
    // or did not come to listen.
    bool start(const std::string& devicePath, Accepter accepter, std::string* error,
               std::uint16_t port = 0) {
        stop();
        const QString ser2net = program();
        if (ser2net.isEmpty()) return fail(error, "ser2net is not installed");
        if (!m_dir.isValid()) return fail(error, "no temporary folder");
        m_port = port != 0 ? port : freePort();
        if (m_port == 0) return fail(error, "no free loopback port");
        m_accepter = accepter;
        QByteArray front = accepter == Accepter::Rfc2217 ? "telnet(rfc2217)," : "";
        if (m_tls) {
            front += "ssl(key=" + QByteArray::fromStdString(m_tls->key) +
                     ",cert=" + QByteArray::fromStdString(m_tls->cert);
            if (!m_tls->clientAuthCa.empty())
                front += ",CA=" + QByteArray::fromStdString(m_tls->clientAuthCa) + ",clientauth";
            front += "),";
        }
        front += "tcp";
        QByteArray options = "    mdns: false\n";
        if (m_tls && !m_tls->clientAuthCa.empty()) {
            const QString allowed =
                m_dir.filePath(QStringLiteral("auth/%1/allowed_certs")
                                   .arg(QString::fromStdString(m_tls->clientUser)));
            QDir().mkpath(allowed);
            QFile::remove(allowed + QStringLiteral("/ca.crt"));
            if (!QFile::copy(QString::fromStdString(m_tls->clientAuthCa),
                             allowed + QStringLiteral("/ca.crt")) ||
                QProcess::execute(QStringLiteral("openssl"), {QStringLiteral("rehash"), allowed}) !=
                    0)
                return fail(error, "cannot set up ser2net's auth folder");
            options +=
                "    authdir: " + m_dir.filePath(QStringLiteral("auth")).toLocal8Bit() + "\n";
        }
        QFile config(m_dir.filePath(QStringLiteral("ser2net.yaml")));
        if (!config.open(QIODevice::WriteOnly)) return fail(error, "cannot write ser2net.yaml");
        config.write("connection: &kit\n  accepter: " + front + ",127.0.0.1," +
                     QByteArray::number(m_port) + "\n  connector: serialdev," +
                     QByteArray::fromStdString(devicePath) + ",9600n81,local\n  options:\n" +
                     options);
        config.close();
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        // -n -d: in the foreground, talking to us; -u: no lock files; -P: no pid file of the
        // system's.
        m_process.start(ser2net, {QStringLiteral("-c"), config.fileName(), QStringLiteral("-n"),
                                  QStringLiteral("-d"), QStringLiteral("-u"), QStringLiteral("-P"),
                                  m_dir.filePath(QStringLiteral("ser2net.pid"))});
        if (!m_process.waitForStarted(5000)) return fail(error, "ser2net did not start");
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!listening()) {
            if (m_process.state() != QProcess::Running ||
                std::chrono::steady_clock::now() > until) {
                const std::string said = m_process.readAll().toStdString();
                stop();
                return fail(error, "ser2net did not listen on 127.0.0.1:" + std::to_string(m_port) +
                                       ": " + said);
            }
            QThread::msleep(10);
        }
        return true;
    }

    // Ends it as a service stop would; kill() ends it at once, as a crash or a pulled cable.
    void stop() { end(false); }
    void kill() { end(true); }

    [[nodiscard]] std::uint16_t port() const { return m_port; }
    [[nodiscard]] QString portName() const {
        return QString::fromLatin1(m_accepter == Accepter::Rfc2217 ? "rfc2217" : "tcp") +
               QString::fromLatin1(m_tls ? "+tls" : "") + QStringLiteral("://127.0.0.1:") +
               QString::number(m_port) + QString::fromStdString(m_clientFiles);
    }
    // CPU seconds the server has used so far.
    [[nodiscard]] double cpuSeconds() const {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(m_process.processId()));
        if (!stat.open(QIODevice::ReadOnly)) return 0;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() < 13) return 0;
        return static_cast<double>(fields[11].toLongLong() + fields[12].toLongLong()) /
               static_cast<double>(::sysconf(_SC_CLK_TCK));
    }

private:
    static bool fail(std::string* error, const std::string& why) {
        if (error) *error = why;
        return false;
    }

    static std::uint16_t freePort() {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return 0;
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof at;
        std::uint16_t port = 0;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&at), &length) == 0)
            port = ntohs(at.sin_port);
        ::close(fd);
        return port;
    }

    // Whether 127.0.0.1:port is in the listening state, read from the kernel's table so that
    // no test connection reaches ser2net.
    [[nodiscard]] bool listening() const {
        QFile table(QStringLiteral("/proc/net/tcp"));
        if (!table.open(QIODevice::ReadOnly)) return false;
        const QByteArray local =
            "0100007F:" + QByteArray::number(m_port, 16).toUpper().rightJustified(4, '0');
        for (const QByteArray& line : table.readAll().split('\n')) {
            const QList<QByteArray> f = line.simplified().split(' ');
            if (f.size() > 3 && f[1] == local && f[3] == "0A") return true;
        }
        return false;
    }

    void end(bool hard) {
        if (m_process.state() == QProcess::NotRunning) return;
        if (hard) {
            m_process.kill();
        } else {
            m_process.terminate();
            if (!m_process.waitForFinished(3000)) m_process.kill();
        }
        m_process.waitForFinished(3000);
    }

    QTemporaryDir m_dir;
    QProcess m_process;
    std::optional<Tls> m_tls;
    std::string m_clientFiles;
    std::uint16_t m_port = 0;
    Accepter m_accepter = Accepter::Rfc2217;
};
