// SPDX-License-Identifier: MIT
// The real program as a process: a second start hands over to the first and nobody else can
// pose as the first; termination signals close it as Quit does, also in the middle of a port
// search, and end it even when its window hangs.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <array>
#include <csignal>

#include "platform/linux_serial_device.h"
#include "platform/pty_pair.h"
#include "platform/single_instance.h"
#include "platform/termination_signals.h"
#include "session/app_context.h"
#include "support/child_listener.h"

namespace {

// The pid of the process listening on the socket at path, or -1.
pid_t listenerOf(const QString& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    if (static_cast<std::size_t>(name.size()) >= sizeof addr.sun_path) return -1;
    std::copy(name.begin(), name.end(), addr.sun_path);
    // Non-blocking: a squatter that never accepts would fill its backlog and hang a connect.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    pid_t pid = -1;
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0)
        pid = peer.pid;
    ::close(fd);
    return pid;
}

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The ini file takes its name from the executable's: the driver gets the real name too.
        ASSERT_TRUE(QFile::copy(QStringLiteral(NORVALE_TERM_BIN), exe()));
        ASSERT_TRUE(QFile::copy(QStringLiteral(NORVALE_TERM_DRIVEN_BIN), drivenExe()));
        env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        // A single-instance socket of its own, in a runtime folder as a session has one.
        env.insert(QStringLiteral("TMPDIR"), dir.path());
        ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("run")));
        ASSERT_EQ(::chmod(QFile::encodeName(runDir()).constData(), 0700), 0);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runDir());
    }
    [[nodiscard]] QString runDir() const { return dir.filePath(QStringLiteral("run")); }
    [[nodiscard]] static QString socketIn(const QString& folder) {
        return folder + u'/' + SingleInstance::socketFileNameFor(AppContext::kAppTitle);
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
    // Started means: its settings were read and its window is up, which its own listener on
    // the single-instance socket shows.
    bool waitUntilListening(const QProcess& p, const QString& path = {}) {
        const QString socket = path.isEmpty() ? socketIn(runDir()) : path;
        for (int i = 0; i < 100; ++i) {
            if (listenerOf(socket) == static_cast<pid_t>(p.processId())) return true;
            QThread::msleep(50);
        }
        return false;
    }
    // The next line the program prints, without its newline.
    static QByteArray readLine(QProcess& p) {
        while (!p.canReadLine())
            if (!p.waitForReadyRead(10000)) return {};
        return p.readLine().trimmed();
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
    ASSERT_TRUE(waitUntilListening(first));
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
        ASSERT_TRUE(waitUntilListening(p));
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

// Another local user who listens first, on the name the terminal once used or on its own socket,
// or a runtime folder that others can reach: none of them keeps the terminal from starting.
TEST_F(ProgramTest, NoOtherUserCanKeepItFromStarting) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to listen as another user";
    const QString ownFolder = dir.filePath(QStringLiteral("norvale-term-0"));
    const QString oldName =
        dir.filePath(QStringLiteral("norvale-term-0-") +
                     QString::fromLatin1(QCryptographicHash::hash(AppContext::kAppTitle.toUtf8(),
                                                                  QCryptographicHash::Sha1)
                                             .toHex()
                                             .left(12)));
    const QString open = dir.filePath(QStringLiteral("open"));
    const QString foreign = dir.filePath(QStringLiteral("foreign"));
    ASSERT_EQ(::mkdir(QFile::encodeName(open).constData(), 0700), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(open).constData(), 0777), 0);
    ASSERT_EQ(::mkdir(QFile::encodeName(foreign).constData(), 0700), 0);
    ASSERT_EQ(::chown(QFile::encodeName(foreign).constData(), kOtherUid, kOtherUid), 0);
    struct Row {
        const char* name;
        QString runtime;  // XDG_RUNTIME_DIR
        QString squatted;
        uid_t squatter;
        QString expected;  // where the terminal listens
    };
    const Row rows[] = {
        {"the old name in the temporary folder", runDir(), oldName, kOtherUid, socketIn(runDir())},
        {"our own socket's path", runDir(), socketIn(runDir()), kOtherUid, socketIn(runDir())},
        {"a runtime folder open to all", open, socketIn(open), 0, socketIn(ownFolder)},
        {"a runtime folder of another user", foreign, socketIn(foreign), 0, socketIn(ownFolder)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const ChildListener squatter(row.squatted, row.squatter);
        ASSERT_TRUE(squatter.listening());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), row.runtime);
        QProcess p;
        startProgram(p);
        EXPECT_TRUE(waitUntilListening(p, row.expected));
        EXPECT_EQ(p.state(), QProcess::Running);
        p.terminate();
        EXPECT_TRUE(p.waitForFinished(5000));
    }
}

// Without a lock around look-and-listen, starts that all look before any listens all run. The
// driver widens the window between the two steps so that the starts surely meet in it.
TEST_F(ProgramTest, StartsAtTheSameMomentLeaveExactlyOneRunning) {
    std::array<QProcess, 4> starts;
    for (QProcess& p : starts) {
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(drivenExe(), {QStringLiteral("--slow-listen")});
    }
    for (QProcess& p : starts) ASSERT_TRUE(p.waitForStarted(5000));
    QElapsedTimer clock;
    clock.start();
    int running = 0;
    do {
        running = 0;
        // Waiting is what updates a QProcess's state here: this thread runs no event loop.
        for (QProcess& p : starts)
            running += p.waitForFinished(20) || p.state() != QProcess::Running ? 0 : 1;
    } while (running > 1 && clock.elapsed() < 15000);
    ASSERT_EQ(running, 1);
    for (QProcess& p : starts) {
        if (p.state() == QProcess::Running) {
            EXPECT_TRUE(waitUntilListening(p));
            p.terminate();
            EXPECT_TRUE(p.waitForFinished(5000));
        } else {
            EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
            EXPECT_EQ(p.exitCode(), 0) << "a later start hands over";
        }
    }
}

// A child the program forks has none of the termination signals blocked; else it would be deaf
// to them and outlive the terminal.
TEST_F(ProgramTest, ChildrenDoNotInheritTheBlockedSignals) {
    QProcess p;
    p.setReadChannel(QProcess::StandardOutput);
    startProgram(p, drivenExe(), {QStringLiteral("--spawn-child")});
    const QByteArray line = readLine(p);
    ASSERT_TRUE(line.startsWith("child ")) << line.constData();
    const pid_t child = static_cast<pid_t>(line.mid(6).toInt());
    ASSERT_GT(child, 0);
    // Once it runs sleep, the child's side of fork() is over; before that its mask may still
    // be the parent's.
    const auto command = [child] {
        QFile comm(QStringLiteral("/proc/%1/comm").arg(child));
        return comm.open(QIODevice::ReadOnly) ? comm.readAll().trimmed() : QByteArray();
    };
    for (int i = 0; i < 200 && command() != "sleep"; ++i) QThread::msleep(10);
    ASSERT_EQ(command(), "sleep");
    QFile status(QStringLiteral("/proc/%1/status").arg(child));
    ASSERT_TRUE(status.open(QIODevice::ReadOnly));
    const QByteArray text = status.readAll();
    const qsizetype at = text.indexOf("SigBlk:");
    ASSERT_GE(at, 0);
    const unsigned long long blocked =
        text.mid(at + 7, text.indexOf('\n', at) - at - 7).trimmed().toULongLong(nullptr, 16);
    ::kill(child, SIGKILL);
    for (const int sig : {SIGTERM, SIGINT, SIGHUP})
        EXPECT_EQ(blocked & (1ULL << (sig - 1)), 0U) << "signal " << sig << " blocked in the child";

    p.terminate();
    EXPECT_TRUE(p.waitForFinished(5000));
}

// With the UI thread stuck, a second SIGTERM ends the process at once and a lone one after the
// grace; either way without touching the settings, and with 128 + the signal as its code.
TEST_F(ProgramTest, AHungWindowStillEndsOnTermination) {
    struct Row {
        const char* name;
        int signalsSent;
        qint64 earliestMs;  // after the last signal
        qint64 latestMs;
    };
    const qint64 grace = TerminationSignals::kGrace.count();
    const Row rows[] = {
        {"a second signal", 2, 0, 1500},
        {"one signal and the grace", 1, grace - 500, grace + 2000},
    };
    const QByteArray settings = "[COMPORT]\r\nPortName=/dev/norvale-absent\r\nBaudRate=57600\r\n";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QFile f(drivenIni());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(settings);
        f.close();
        QProcess p;
        p.setReadChannel(QProcess::StandardOutput);
        startProgram(p, drivenExe(), {QStringLiteral("--hang-ui")});
        ASSERT_EQ(readLine(p), "hanging");
        QElapsedTimer clock;
        for (int i = 0; i < row.signalsSent; ++i) {
            // Apart, so that the two are not merged into one pending signal.
            if (i > 0) QThread::msleep(300);
            ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
            clock.start();
        }
        ASSERT_TRUE(p.waitForFinished(static_cast<int>(row.latestMs)));
        EXPECT_GE(clock.elapsed(), row.earliestMs);
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 128 + SIGTERM);
        QFile saved(drivenIni());
        ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
        EXPECT_EQ(saved.readAll(), settings);
    }
}

// With a settings file that cannot be written, a termination signal still ends the program at
// once and cleanly: standard error says why nothing was saved, no box waits for a user who may
// not be there, and the file stays as it was. An interactive Quit shows its box, and a signal
// that comes while it is up ends the program all the same.
TEST_F(ProgramTest, TerminationSignalsEndItThoughTheSettingsCannotBeSaved) {
    struct Row {
        const char* name;
        int signal;
        bool quitFirst;  // the driver quits at start, with the desktop's message boxes
    };
    const Row rows[] = {
        {"SIGTERM", SIGTERM, false},
        {"SIGINT", SIGINT, false},
        {"SIGHUP", SIGHUP, false},
        {"SIGTERM while Quit's box is up", SIGTERM, true},
    };
    const QByteArray settings = "[COMPORT]\r\nPortName=/dev/norvale-absent\r\nBaudRate=57600\r\n";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const QString path = row.quitFirst ? drivenIni() : ini();
        QFile::remove(path);
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(settings);
        f.close();
        ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0444), 0);
        QProcess p;
        p.setProcessEnvironment(env);
        if (row.quitFirst) {
            p.start(drivenExe(), {QStringLiteral("--desktop-prompts"), QStringLiteral("--quit"),
                                  QStringLiteral("--print-shown")});
            ASSERT_TRUE(p.waitForStarted(5000));
            QByteArray line;
            for (int i = 0; i < 20 && !line.startsWith("shown: QMessageBox"); ++i)
                line = readLine(p);
            ASSERT_TRUE(line.startsWith("shown: QMessageBox")) << "Quit shows its box";
        } else {
            p.start(exe());
            ASSERT_TRUE(p.waitForStarted(5000));
            ASSERT_TRUE(waitUntilListening(p));
        }
        QElapsedTimer clock;
        clock.start();
        ::kill(static_cast<pid_t>(p.processId()), row.signal);
        ASSERT_TRUE(p.waitForFinished(5000));
        EXPECT_LT(clock.elapsed(), 1000);
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 0);
        EXPECT_TRUE(p.readAllStandardError().contains(
            "norvale-term: the settings could not be saved to " + QFile::encodeName(path)));
        QFile saved(path);
        ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
        EXPECT_EQ(saved.readAll(), settings);
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0444U);
    }
}

// A network port whose server never answers (the kernel completes the connection, nobody reads
// or writes): the window is on the screen at once, and the open goes on after it.
TEST_F(ProgramTest, TheWindowShowsBeforeASlowNetworkOpen) {
    const UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof at;
    ASSERT_EQ(::bind(listener.get(), reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    ASSERT_EQ(::listen(listener.get(), 4), 0);
    ASSERT_EQ(::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&at), &length), 0);
    QFile f(drivenIni());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("[COMPORT]\r\nPortName=rfc2217://127.0.0.1:" + QByteArray::number(ntohs(at.sin_port)) +
            "\r\n");
    f.close();
    QProcess p;
    p.setReadChannel(QProcess::StandardOutput);
    startProgram(p, drivenExe(), {QStringLiteral("--print-shown")});
    const QByteArray line = readLine(p);
    ASSERT_TRUE(line.startsWith("shown: TfrmMain ")) << line.constData();
    EXPECT_LT(line.mid(16).toInt(), 500) << "ms from the start to the window on the screen";
    pollfd pending{listener.get(), POLLIN, 0};
    EXPECT_EQ(::poll(&pending, 1, 5000), 1) << "the open never connected";
    p.kill();
    EXPECT_TRUE(p.waitForFinished(5000));
}

// A second start with --engineering hands over to the running terminal, which switches to the
// mode; the second process ends at once.
TEST_F(ProgramTest, SecondStartWithEngineeringSwitchesTheRunningOne) {
    QProcess first;
    first.setReadChannel(QProcess::StandardOutput);
    startProgram(first, drivenExe(), {QStringLiteral("--print-title")});
    ASSERT_TRUE(waitUntilListening(first));
    QProcess second;
    startProgram(second, {}, {QStringLiteral("--engineering")});
    ASSERT_TRUE(second.waitForFinished(5000));
    EXPECT_EQ(second.exitCode(), 0);
    QByteArray said;
    for (int i = 0; i < 50 && !said.contains("[engineering]"); ++i) {
        first.waitForReadyRead(100);
        said += first.readAllStandardOutput();
    }
    EXPECT_TRUE(said.contains("title: Norvale Term for Orlin"));
    EXPECT_TRUE(said.contains(" [engineering]\n")) << said.constData();
    first.terminate();
    EXPECT_TRUE(first.waitForFinished(5000));
}

// --capture: a file that cannot be opened is said on stderr and the terminal runs without
// it; a good one takes what arrives and is flushed when the terminal is told to end.
TEST_F(ProgramTest, CaptureFromTheCommandLine) {
    std::string error;
    auto pty = PtyPair::create(&error);
    ASSERT_TRUE(pty) << error;
    QFile f(ini());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("[COMPORT]\r\nPortName=" + QByteArray::fromStdString(pty->slavePath()) + "\r\n");
    f.close();
    const auto run = [this](QProcess& p, const QString& capture) {
        p.setProcessEnvironment(env);
        p.start(exe(), {QStringLiteral("--capture"), capture});
        return p.waitForStarted(5000) && waitUntilListening(p);
    };

    QProcess refused;
    ASSERT_TRUE(run(refused, dir.path()));  // a folder, not a file
    ::kill(static_cast<pid_t>(refused.processId()), SIGTERM);
    ASSERT_TRUE(refused.waitForFinished(5000));
    EXPECT_EQ(refused.exitCode(), 0);
    EXPECT_TRUE(refused.readAllStandardError().contains("the capture could not start: " +
                                                        QFile::encodeName(dir.path())));

    const QString log = dir.filePath(QStringLiteral("cli.log"));
    QProcess p;
    ASSERT_TRUE(run(p, log));
    const QByteArray frame = QByteArray::fromHex("0F5A10000001020304AABBCCDD000000");
    ASSERT_EQ(::write(pty->masterFd(), frame.constData(), frame.size()), frame.size());
    QThread::msleep(300);  // time for the unit to arrive
    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    ASSERT_TRUE(p.waitForFinished(5000));
    QFile written(log);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_TRUE(written.readAll().endsWith(
        " => 0Fh 5Ah 10h 00h 00h 01h 02h 03h 04h AAh BBh CCh DDh 00h 00h 00h\r\n"));
}

}  // namespace
