// The real program as a process: a second start hands over to the first, and termination
// signals close it as Quit does.
#include "platform/pty_pair.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>

namespace {

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QFile::copy(QStringLiteral(NORVALE_TERM_BIN), exe()));
        env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("TMPDIR"), dir.path());  // a single-instance socket of its own
    }
    [[nodiscard]] QString exe() const { return dir.filePath(QStringLiteral("norvale-term")); }
    [[nodiscard]] QString ini() const { return dir.filePath(QStringLiteral("norvale-term.ini")); }
    void startProgram(QProcess& p) {
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(exe(), {});
        ASSERT_TRUE(p.waitForStarted(5000));
    }
    // Started means: its settings were read and its window is up, which the socket shows.
    bool waitUntilListening() {
        for (int i = 0; i < 100; ++i) {
            const QDir tmp(dir.path());
            if (!tmp.entryList({QStringLiteral("norvale-term-*")}, QDir::System).isEmpty()) return true;
            QThread::msleep(50);
        }
        return false;
    }

    QTemporaryDir dir;
    QProcessEnvironment env;
};

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
        f.write("[COMPORT]\r\nPortName=" + QByteArray::fromStdString(pty->slavePath()) + "\r\n");
        f.close();
        QProcess p;
        startProgram(p);
        ASSERT_TRUE(waitUntilListening());
        ::kill(static_cast<pid_t>(p.processId()), sig);
        ASSERT_TRUE(p.waitForFinished(5000)) << sig;
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << sig;
        EXPECT_EQ(p.exitCode(), 0) << sig;
        QFile saved(ini());
        ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
        const QByteArray text = saved.readAll();
        EXPECT_TRUE(text.contains("ProID___=0x0000\r\n")) << sig << text.constData();
    }
}

}  // namespace
