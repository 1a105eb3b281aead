// SPDX-License-Identifier: MIT
// Bytes written at the far end of a pty reach the main window: monitor lines, the received
// IDs, a settings response, and a hangup in the middle of a frame.
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "session/event_wait.h"
#include "core/unit_render.h"
#include "platform/linux_serial_device.h"
#include "platform/pty_pair.h"
#include "support/main_window_fixture.h"
#include "support/pty_master.h"
#include "support/test_bytes.h"
#include "ui/qt_click_panel.h"

namespace {

class ReceiveWindowTest : public MainWindowTest {
protected:
    void SetUp() override { startOnPty(); }
    void send(const char* hex) {
        const QByteArray b = QByteArray::fromHex(hex);
        ASSERT_TRUE(ptytest::writeAll(farEnd->masterFd(), {b.begin(), b.end()}));
    }
    bool waitFor(const std::function<bool()>& done) { return pumpUntil(done, ticks, 3000); }
    // The monitor shows lines in batches; the line count in the status bar comes with them.
    bool waitForShownLines(int n) {
        return waitFor([this, n] { return window->sBarPanel0->text() == QString::number(n); });
    }
};

TEST_F(ReceiveWindowTest, FrameReachesMonitorAndIdPanels) {
    send("0F5A10000001020304AABBCCDD000000");
    ASSERT_TRUE(waitForShownLines(1));
    EXPECT_EQ(window->memoRecv->toPlainText(),
              QStringLiteral(" 0Fh 5Ah 10h 00h 00h 01h 02h 03h 04h AAh BBh CCh DDh 00h 00h 00h\n"));
    EXPECT_EQ(window->pnlSrcID->text(), QStringLiteral("01 02 03 04 "));
    EXPECT_EQ(window->pnlDstID->text(), QStringLiteral("AA BB CC DD "));
    EXPECT_EQ(window->sBarPanel0->text(), QStringLiteral("1"));
    EXPECT_TRUE(context->port.state().frameReceived);

    // Text without a header is shown once the line has been quiet for the timeout.
    send("68656C6C6F");
    ASSERT_TRUE(waitForShownLines(2));
    EXPECT_TRUE(
        window->memoRecv->toPlainText().endsWith(QStringLiteral("\n 68h 65h 6Ch 6Ch 6Fh\n")));
}

TEST_F(ReceiveWindowTest, SettingsResponseUpdatesModuleIds) {
    const QByteArray f = testbytes::settingsResponse(0x12, 0x34, 0x56, 0x78);
    send(f.toHex().constData());
    // 44 bytes render as 176 characters: one wrap at the default 128.
    ASSERT_TRUE(waitForShownLines(2)) << window->memoRecv->toPlainText().toStdString();
    EXPECT_EQ(window->pnlSysID->text(), QStringLiteral("SysID: 0x1234"));
    EXPECT_EQ(window->pnlProID->text(), QStringLiteral("ProID: 0x5678"));
    EXPECT_EQ(context->settings.module.sysIdHi, 0x12);
    EXPECT_EQ(context->settings.module.proIdLo, 0x78);
}

TEST_F(ReceiveWindowTest, HangupMidFrameStopsThePort) {
    send("0F5A2000000102");
    ASSERT_TRUE(
        waitFor([this] { return window->receivePipeline().framing().pendingLength() == 7; }));
    farEnd->closeMaster();
    ASSERT_TRUE(waitFor([this] { return !context->port.isOpen(); }));
    EXPECT_EQ(window->sBarPanel0->text(),
              QString::fromStdString(farEnd->slavePath()) + QStringLiteral(":OFF"));
    EXPECT_EQ(window->btnComOpen->text(), QStringLiteral("接続"));
    EXPECT_TRUE(prompts.shown.empty());
    // The part received shows, as the silence would have shown it.
    EXPECT_EQ(window->memoRecv->toPlainText(), QStringLiteral(" 0Fh 5Ah 20h 00h 00h 01h 02h\n"));
}

// Frames keep coming while the user clicks Monitor Clear: each click empties the monitor at
// once, and at the end the monitor holds exactly the units handed to it after the last click,
// in order, with their count in the status bar and the last frame's IDs in the panels.
TEST_F(ReceiveWindowTest, FramesInterleavedWithClicksKeepTheirOrder) {
    QStringList rendered;
    std::uint64_t unitsAtLastClick = 0;
    // The last round only writes: something always comes after the last click.
    for (int round = 0, n = 0; round <= 30; ++round) {
        QByteArray block;
        for (int i = 0; i < (round % 5 + 1) * 7; ++i, ++n) {
            QByteArray f = QByteArray::fromHex("0F5A1000000102030411121314000000");
            f[7] = char(n >> 8);
            f[8] = char(n);
            block += f;
            rendered << renderHex({reinterpret_cast<const std::uint8_t*>(f.constData()), 16u});
        }
        send(block.toHex().constData());
        QTest::qWait(round % 3);
        if (round % 2 == 0) continue;
        QTest::mouseClick(window->btnClear, Qt::LeftButton);
        unitsAtLastClick = window->receivePipeline().stats().units;
        EXPECT_TRUE(window->memoRecv->toPlainText().isEmpty()) << "round " << round;
    }
    const auto total = static_cast<std::uint64_t>(rendered.size());
    ASSERT_TRUE(waitFor([&] { return window->receivePipeline().stats().units == total; }));
    window->flush();
    const QStringList after = rendered.mid(static_cast<qsizetype>(unitsAtLastClick));
    EXPECT_EQ(window->memoRecv->toPlainText(), after.join(u'\n') + u'\n');
    EXPECT_EQ(window->sBarPanel0->text(), QString::number(after.size()));
    const int last = static_cast<int>(total) - 1;
    EXPECT_EQ(window->pnlSrcID->text(),
              QString::asprintf("01 02 %02X %02X ", last >> 8, last & 0xFF));
    EXPECT_EQ(window->receivePipeline().stats().bytes, total * 16);
}

}  // namespace
