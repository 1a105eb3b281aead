// The real program as a process: a second start hands over to the first, and termination
// signals close it as Quit does, also in the middle of a port search.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>

#include "platform/pty_pair.h"

namespace {

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The ini file takes its name from the executable's: the driver gets the real name too.
        ASSERT_TRUE(QFile::copy(QStringLiteral(NORVALE_TERM_BIN), exe()));
        ASSERT_TRUE(QFile::copy(QStringLiteral(NORVALE_TERM_DRIVEN_BIN), drivenExe()));
        env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("TMPDIR"), dir.path());  // a single-instance socket of its own
    }
    [[nodiscard]] QString exe() const { return dir.filePath(QStringLiteral("norvale-term")); }
    [[nodiscard]] QString drivenExe() const {
        return driven.filePath(QStringLiteral("norvale-term"));
    }
    [[nodiscard]] QString ini() const { return dir.filePath(QStringLiteral("norvale-term.ini")); }
    [[nodiscard]] QString drivenIni() const {
        return driven.filePath(QStringLiteral("norvale-term.ini"));
    }
    void startProgram(QProcess& p, const QString& program = {}, const QStringList& args = {}) {
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(program.isEmpty() ? exe() : program, args);
        ASSERT_TRUE(p.waitForStarted(5000));
    }
    // Started means: its settings were read and its window is up, which the socket shows.
    bool waitUntilListening() {
        for (int i = 0; i < 100; ++i) {
            const QDir tmp(dir.path());
            if (!tmp.entryList({QStringLiteral("norvale-term-*")}, QDir::System).isEmpty())
                return true;
            QThread::msleep(50);
        }
        return false;
    }

    QTemporaryDir dir;
    QTemporaryDir driven;
    QProcessEnvironment env;
};

bool ignoresSigpipe(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) return false;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (!line.startsWith("SigIgn:")) continue;
        return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (SIGPIPE - 1)) & 1U;
    }
    return false;
}

// Waits for bytes from the program on the far end of a pty.
QByteArray readFarEnd(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0 || (p.revents & POLLIN) == 0) return {};
    char buf[256];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    return n > 0 ? QByteArray(buf, static_cast<qsizetype>(n)) : QByteArray();
}

TEST_F(ProgramTest, SecondStartEndsAtOnceWithoutAWindow) {
    QProcess first;
    startProgram(first);
    ASSERT_TRUE(waitUntilListening());
    QProcess second;
    startProgram(second);
    EXPECT_TRUE(second.waitForFinished(5000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(first.state(), QProcess::Running);
    first.terminate();
    EXPECT_TRUE(first.waitForFinished(5000));
}

TEST_F(ProgramTest, TerminationSignalsSaveSettingsAndExitCleanly) {
    std::string error;
    auto pty = PtyPair::create(&error);
    ASSERT_TRUE(pty) << error;
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        QFile f(ini());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        // Bytes without a code page 932 meaning stay as they are, and the other keys are added.
        f.write("[COMPORT]\r\nPortName=" + QByteArray::fromStdString(pty->slavePath()) +
                "\r\nRecvHead=\x80\xFD\xE7\x84\xA1\r\nSendHead=\x85\x40\r\n");
        f.close();
        QProcess p;
        startProgram(p);
        ASSERT_TRUE(waitUntilListening());
        EXPECT_TRUE(ignoresSigpipe(p.processId())) << "a vanished reader must not kill it";
        ::kill(static_cast<pid_t>(p.processId()), sig);
        ASSERT_TRUE(p.waitForFinished(5000)) << sig;
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << sig;
        EXPECT_EQ(p.exitCode(), 0) << sig;
        QFile saved(ini());
        ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
        const QByteArray text = saved.readAll();
        EXPECT_TRUE(text.contains("ProID___=0x0000\r\n")) << sig << text.constData();
        EXPECT_TRUE(text.contains("\r\nRecvHead=\x80\xFD\xE7\x84\xA1\r\nSendHead=\x85\x40\r\n"))
            << sig;
        EXPECT_EQ(text.count('='), 15) << sig << text.constData();
    }
}

// SIGTERM while the port search waits for an answer on its first port: the search ends at
// once, the program exits 0 without a message, the next port is never probed, and the settings
// saved are the search's own outcome (the last port that opened) with the line as it was.
// The signal goes out as soon as the probe arrives, well inside the 500 ms wait; only a stall
// of the test process longer than that would let the search reach the second port.
TEST_F(ProgramTest, TerminationSignalDuringAPortSearchSavesAndExitsCleanly) {
    std::string error;
    auto first = PtyPair::create(&error);
    ASSERT_TRUE(first) << error;
    auto second = PtyPair::create(&error);
    ASSERT_TRUE(second) << error;
    QFile f(drivenIni());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[COMPORT]\r\nPortName=/dev/norvale-absent\r\nBaudRate=57600\r\n");
    f.close();

    QProcess p;
    p.setReadChannel(QProcess::StandardOutput);
    startProgram(p, drivenExe(),
                 {QStringLiteral("--search"), QString::fromStdString(first->slavePath()),
                  QString::fromStdString(second->slavePath())});
    const QByteArray probe = readFarEnd(first->masterFd(), 10000);
    ASSERT_FALSE(probe.isEmpty()) << "the search never probed the first port";
    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    ASSERT_TRUE(p.waitForFinished(5000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0);
    EXPECT_EQ(p.readAllStandardOutput().toStdString(), "") << "no message box";
    EXPECT_TRUE(readFarEnd(second->masterFd(), 0).isEmpty()) << "the search went on";

    QFile saved(drivenIni());
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QByteArray text = saved.readAll();
    EXPECT_TRUE(text.contains("PortName=" + QByteArray::fromStdString(first->slavePath()) + "\r\n"))
        << text.constData();
    EXPECT_TRUE(text.contains("BaudRate=57600\r\n")) << text.constData();
}

}  // namespace
