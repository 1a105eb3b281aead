// SPDX-License-Identifier: MIT
// norvale-run as Wireshark's capture interface, through the real tshark: the kit is listed,
// captured live, and a port someone else holds is refused.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "core/pcapng_blocks.h"
#include "platform/linux_serial_device.h"
#include "support/pcapng_reader.h"
#include "support/sim_process.h"

namespace {

// A folder for tshark's extcap programs holding a wrapper that hands over to this build's
// norvale-run with the kit's settings, as the installed wrapper hands over to the installed one.
class ExtcapTest : public ::testing::Test {
protected:
    void SetUp() override {
        tshark = QStandardPaths::findExecutable(QStringLiteral("tshark"));
        ASSERT_FALSE(sim.path().isEmpty());
        // tshark takes an extcap folder of the user's choosing only from a user without
        // privileges: as root, tshark runs as nobody, who must reach the folder and the pty.
        ::chmod(dir.path().toLocal8Bit().constData(), 0777);
        if (::geteuid() == 0) ::chmod(sim.path().toLocal8Bit().constData(), 0666);
        write(QStringLiteral("kit.ini"),
              "[COMPORT]\nPortName=" + sim.path().toLocal8Bit() + "\nBaudRate=115200\n", 0644);
        write(QStringLiteral("norvale-extcap"),
              "#!/bin/sh\nexec '" NORVALE_RUN_BIN "' --settings '" +
                  dir.filePath(QStringLiteral("kit.ini")).toLocal8Bit() + "' \"$@\"\n",
              0755);
    }
    void write(const QString& name, const QByteArray& text, int mode) {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
        f.close();
        ::chmod(f.fileName().toLocal8Bit().constData(), static_cast<mode_t>(mode));
    }
    QString runTshark(const QStringList& arguments) {
        QProcess p;
        QStringList command{tshark};
        command += arguments;
        if (::geteuid() == 0)
            command = QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                  QStringLiteral("--clear-groups"), QStringLiteral("--")} +
                      command;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), dir.path());
        env.insert(QStringLiteral("WIRESHARK_EXTCAP_DIR"), dir.path());
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        const QString program = ::geteuid() == 0 ? QStringLiteral("setpriv") : command.takeFirst();
        p.start(program, command);
        p.waitForFinished(30000);
        return QString::fromUtf8(p.readAll());
    }
    SimProcess sim{{QStringLiteral("--transmitters"), QStringLiteral("1"), QStringLiteral("--rate"),
                    QStringLiteral("20")}};
    QTemporaryDir dir;
    QString tshark;
};

TEST_F(ExtcapTest, TsharkListsTheKitAndCapturesItLive) {
    if (tshark.isEmpty()) GTEST_SKIP() << "tshark is not installed";
    const QString name = QStringLiteral("orlin-") + sim.path();
    const QString listed = runTshark({QStringLiteral("-D")});
    EXPECT_TRUE(listed.contains(name + QStringLiteral(" (Orlin kit on ") + sim.path() + u')'))
        << listed.toStdString();

    const QString file = dir.filePath(QStringLiteral("live.pcapng"));
    const QString said = runTshark({QStringLiteral("-i"), name, QStringLiteral("-a"),
                                    QStringLiteral("duration:3"), QStringLiteral("-w"), file});
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << said.toStdString();
    QByteArray received;
    int keyFrames = 0;
    bool opened = false;
    for (const pcapngtest::Block& b : pcapngtest::blocks(f.readAll())) {
        if (b.type != pcapng::kEnhancedPacket) continue;
        const pcapngtest::Packet p = pcapngtest::packet(b);
        if (p.options.value(pcapng::kOptComment) == "line: " + sim.path().toUtf8() + ":OK")
            opened = true;
        if (p.data.size() == 19 && p.data[3] == 0x13) ++keyFrames;
        received += p.data;
    }
    EXPECT_TRUE(opened) << "the port's opening is in the capture";
    // Twenty a second for three seconds, less what tshark takes to start the interface.
    EXPECT_GE(keyFrames, 20) << said.toStdString();
    // Whatever came, came whole and in order: a run of what the kit sent.
    EXPECT_TRUE(sim.bytesBothWays().first.contains(received));
}

TEST_F(ExtcapTest, APortSomeoneHoldsIsRefused) {
    LinuxSerialDevice holder;
    ASSERT_FALSE(holder.open(sim.path().toStdString(), LineParams{}));
    const QByteArray fifo = dir.filePath(QStringLiteral("fifo")).toLocal8Bit();
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    // Wireshark's end, open before the capture starts, as Wireshark has it.
    const int reader = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    QProcess p;
    p.start(QStringLiteral(NORVALE_RUN_BIN),
            {QStringLiteral("--capture"), QStringLiteral("--extcap-interface"),
             QStringLiteral("orlin-") + sim.path(), QStringLiteral("--fifo"),
             QString::fromLocal8Bit(fifo), QStringLiteral("--settings"),
             dir.filePath(QStringLiteral("kit.ini"))});
    ASSERT_TRUE(p.waitForFinished(10000));
    ::close(reader);
    EXPECT_EQ(p.exitCode(), 1);
    EXPECT_TRUE(p.readAllStandardError().contains("in use"));
}

}  // namespace
