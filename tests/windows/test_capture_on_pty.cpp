// SPDX-License-Identifier: MIT
// The capture on a real line: every unit handed to the monitor lands in the file in order,
// whatever the line cap, Monitor Clear or the survey's clearing do to the monitor; sent frames
// come as "<=" lines; a full disk stops the capture and nothing else.
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include "session/event_wait.h"
#include "core/unit_render.h"
#include "support/main_window_fixture.h"
#include "support/pty_master.h"

namespace {

class CaptureOnPtyTest : public MainWindowTest {
protected:
    void SetUp() override { startOnPty(); }
    void TearDown() override {
        if (context) context->capture.stop();
        if (!m_mounted.isEmpty()) ::umount2(QFile::encodeName(m_mounted).constData(), MNT_DETACH);
    }

    // Frames numbered first.. in their last three bytes; waits until the pipeline took them.
    void sendFrames(int first, int count) {
        for (int done = 0; done < count; done += 100) {
            QByteArray block;
            for (int i = first + done; i < first + std::min(count, done + 100); ++i) {
                const QByteArray f = frame(i);
                block += f;
                m_expected += renderHex(
                    {reinterpret_cast<const std::uint8_t*>(f.constData()), std::size_t(16)});
            }
            const auto units = window->receivePipeline().stats().units;
            ASSERT_TRUE(ptytest::writeAll(farEnd->masterFd(), {block.begin(), block.end()}));
            const auto want = units + static_cast<std::uint64_t>(block.size() / 16);
            ASSERT_TRUE(pumpUntil(
                [&] { return window->receivePipeline().stats().units >= want; }, ticks, 5000));
        }
    }
    static QByteArray frame(int n) {
        QByteArray f = QByteArray::fromHex("0F5A1000000102030411121314000000");
        f[13] = char(n >> 16);
        f[14] = char(n >> 8);
        f[15] = char(n);
        return f;
    }
    // The file's lines without their time stamps, split by direction.
    struct Lines {
        QStringList received;
        QStringList sent;
    };
    [[nodiscard]] Lines fileLines(const QString& path) const {
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        Lines lines;
        const QByteArray all = f.readAll();
        EXPECT_TRUE(all.isEmpty() || all.endsWith("\r\n"));
        static const QRegularExpression whole(QStringLiteral(
            "^\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} (=>|<=)( [0-9A-F]{2}h)*\r$"));
        for (const QByteArray& line : all.split('\n')) {
            if (line.isEmpty()) continue;
            EXPECT_TRUE(whole.match(QString::fromUtf8(line)).hasMatch()) << line.toStdString();
            const QString text = QString::fromUtf8(line.chopped(1));
            const QString way = text.mid(23, 3);
            (way == QStringLiteral(" =>") ? lines.received : lines.sent) << text.mid(26);
            EXPECT_TRUE(way == QStringLiteral(" =>") || way == QStringLiteral(" <=")) << text.toStdString();
        }
        return lines;
    }

    QStringList m_expected;
    QString m_mounted;
};

TEST_F(CaptureOnPtyTest, EveryUnitAndSentFrameReachTheFile) {
    const QString path = dir.filePath(QStringLiteral("run.log"));
    prompts.fileAnswers = {path};
    window->mmCaptureClick();
    ASSERT_EQ(prompts.fileChoices.size(), 1u);
    EXPECT_TRUE(QFileInfo(prompts.fileChoices[0].proposedName)
                    .fileName()
                    .contains(QRegularExpression(QStringLiteral("^norvale-\\d{8}-\\d{6}\\.log$"))));
    ASSERT_TRUE(context->capture.running());
    EXPECT_EQ(window->mmCapture->text(), QStringLiteral("記録停止 (Stop Capture)"));

    sendFrames(0, 700);
    window->btnClearClick();
    sendFrames(700, 600);  // past the line cap
    window->clearMonitor();  // as a survey run starts
    sendFrames(1300, 50);
    window->cmbSend->setEditText(QStringLiteral("AB"));
    QTest::mouseClick(window->btnSend, Qt::LeftButton);
    window->tmClockTimer();
    EXPECT_TRUE(window->sBarPanel2->isVisibleTo(window.get()));
    EXPECT_TRUE(window->sBarPanel2->text().startsWith(QStringLiteral("run.log  ")));

    window->mmCaptureClick();  // stops: no dialog
    EXPECT_EQ(prompts.fileChoices.size(), 1u);
    EXPECT_FALSE(context->capture.running());
    EXPECT_FALSE(window->sBarPanel2->isVisibleTo(window.get()));
    EXPECT_EQ(window->mmCapture->text(), QStringLiteral("記録開始 (Start Capture)..."));

    const Lines lines = fileLines(path);
    EXPECT_EQ(static_cast<std::uint64_t>(lines.received.size()),
              window->receivePipeline().stats().units);
    EXPECT_EQ(lines.received, m_expected);
    EXPECT_EQ(lines.sent, QStringList{QStringLiteral(
                              " 0Fh 5Ah 0Fh 00h 00h FFh FFh FFh FFh FFh FFh FFh FFh 41h 42h")});
    EXPECT_EQ(QFileInfo(path).size(), static_cast<qint64>(context->capture.size()));
    EXPECT_TRUE(prompts.shown.empty());
}

TEST_F(CaptureOnPtyTest, QuitStopsAndFlushesTheCapture) {
    const QString path = dir.filePath(QStringLiteral("quit.log"));
    ASSERT_FALSE(window->startCapture(path));
    sendFrames(0, 3);
    window->close();
    EXPECT_FALSE(context->capture.running());
    EXPECT_EQ(fileLines(path).received, m_expected);
}

TEST_F(CaptureOnPtyTest, OneShotLeavesOutWhatItHoldsBackAndLogTimeChangesNothing) {
    const QString path = dir.filePath(QStringLiteral("oneshot.log"));
    window->ckOneShot->setChecked(true);
    window->ckLogTime->setChecked(true);
    ASSERT_FALSE(window->startCapture(path));
    sendFrames(0, 3);  // one device: only its first frame is shown
    window->stopCapture();
    EXPECT_EQ(fileLines(path).received, m_expected.mid(0, 1));
}

TEST_F(CaptureOnPtyTest, AFullDiskStopsTheCaptureOnly) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
    const QString mountPoint = dir.filePath(QStringLiteral("small"));
    ASSERT_TRUE(QDir().mkpath(mountPoint));
    if (::mount("tmpfs", QFile::encodeName(mountPoint).constData(), "tmpfs", 0, "size=16k") != 0)
        GTEST_SKIP() << "tmpfs mount failed";
    m_mounted = mountPoint;
    const QString path = QDir(mountPoint).filePath(QStringLiteral("full.log"));
    ASSERT_FALSE(window->startCapture(path));

    sendFrames(0, 400);  // about 36 KB of lines
    ASSERT_TRUE(pumpUntil([&] { return !prompts.shown.empty(); }, ticks, 3000));
    EXPECT_FALSE(context->capture.running());
    EXPECT_TRUE(prompts.shown[0].text.startsWith(QStringLiteral("記録を止めました: ") + path + ": "))
        << prompts.shown[0].text.toStdString();
    EXPECT_TRUE(prompts.shown[0].text.contains(QStringLiteral("(The capture stopped: ")));
    EXPECT_FALSE(window->sBarPanel2->isVisibleTo(window.get()));

    const auto units = window->receivePipeline().stats().units;
    sendFrames(400, 1);
    EXPECT_EQ(window->receivePipeline().stats().units, units + 1);
    EXPECT_TRUE(context->port.isOpen());
    EXPECT_EQ(prompts.shown.size(), 1u);
}

// A disk that fills mid-line: the file keeps whole lines only, and a capture appended to it
// once there is room again starts on a line of its own.
TEST_F(CaptureOnPtyTest, AFullDiskLeavesOnlyWholeLines) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
    const QString mountPoint = dir.filePath(QStringLiteral("small"));
    ASSERT_TRUE(QDir().mkpath(mountPoint));
    if (::mount("tmpfs", QFile::encodeName(mountPoint).constData(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "tmpfs mount not permitted here";
    m_mounted = mountPoint;
    const QString spare = QDir(mountPoint).filePath(QStringLiteral("spare"));
    {
        QFile f(spare);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(QByteArray(16 * 1024, 'x')), 16 * 1024);
    }
    const QString path = QDir(mountPoint).filePath(QStringLiteral("full.log"));
    ASSERT_FALSE(window->startCapture(path));
    sendFrames(0, 700);  // about 64 KB of lines, more than the 48 KB left
    ASSERT_TRUE(pumpUntil([&] { return !prompts.shown.empty(); }, ticks, 3000));
    const Lines cut = fileLines(path);
    EXPECT_FALSE(cut.received.isEmpty());
    EXPECT_EQ(cut.received, m_expected.mid(0, cut.received.size()));

    ASSERT_TRUE(QFile::remove(spare));
    ASSERT_FALSE(window->startCapture(path));
    sendFrames(700, 3);
    window->stopCapture();
    const Lines again = fileLines(path);
    EXPECT_EQ(again.received, cut.received + m_expected.mid(700));
}

}  // namespace

#include <QProcess>
#include <QStandardPaths>

#include "core/pcapng_blocks.h"
#include "support/pcapng_reader.h"

namespace {

// The same flood past the monitor's cap into a .pcapng chosen in the File menu: one inbound
// packet per unit handed to the monitor, in order, and one outbound per frame sent; capinfos
// counts the same.
TEST_F(CaptureOnPtyTest, APcapngCaptureHoldsOnePacketPerUnitAndFrame) {
    const QString path = dir.filePath(QStringLiteral("run.pcapng"));
    prompts.fileAnswers = {path};
    window->mmCaptureClick();
    ASSERT_TRUE(context->capture.running());
    EXPECT_TRUE(context->capture.pcapng());
    sendFrames(0, 700);
    window->btnClearClick();
    sendFrames(700, 600);
    window->cmbSend->setEditText(QStringLiteral("AB"));
    QTest::mouseClick(window->btnSend, Qt::LeftButton);
    window->mmCaptureClick();
    ASSERT_FALSE(context->capture.running());

    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    qsizetype rest = -1;
    const auto blocks = pcapngtest::blocks(f.readAll(), &rest);
    EXPECT_EQ(rest, 0);
    ASSERT_GE(blocks.size(), 2);
    EXPECT_EQ(blocks[0].type, pcapng::kSectionHeader);
    EXPECT_EQ(blocks[1].type, pcapng::kInterfaceDescription);
    EXPECT_EQ(pcapngtest::options(blocks[1].body, 8).value(pcapng::kIfName),
              context->settings.link.portName.toUtf8());
    QStringList received;
    QList<QByteArray> sent;
    for (const auto& b : blocks) {
        if (b.type != pcapng::kEnhancedPacket) continue;
        const auto p = pcapngtest::packet(b);
        if (pcapngtest::le32(p.options.value(pcapng::kEpbFlags), 0) == 1) {
            received << renderHex({reinterpret_cast<const std::uint8_t*>(p.data.constData()),
                                   static_cast<std::size_t>(p.data.size())});
        } else {
            sent << p.data;
        }
    }
    EXPECT_EQ(static_cast<std::uint64_t>(received.size()), window->receivePipeline().stats().units);
    EXPECT_EQ(received, m_expected);
    EXPECT_EQ(sent, QList<QByteArray>{QByteArray::fromHex("0F5A0F0000FFFFFFFFFFFFFFFF4142")});

    const QString capinfos = QStandardPaths::findExecutable(QStringLiteral("capinfos"));
    if (capinfos.isEmpty()) GTEST_SKIP() << "capinfos is not installed";
    QProcess p;
    p.start(capinfos, {QStringLiteral("-c"), QStringLiteral("-M"), path});
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_TRUE(p.readAllStandardOutput().contains(
        QStringLiteral("Number of packets:   %1").arg(received.size() + sent.size()).toUtf8()));
}

}  // namespace
