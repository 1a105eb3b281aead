// SPDX-License-Identifier: MIT
// What the far end of the line receives, byte for byte, for the send panel's and the module
// panel's frames.
#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>

#include "support/main_window_fixture.h"
#include "support/pty_master.h"

namespace {

class FramesOnPtyTest : public MainWindowTest {
protected:
    void SetUp() override { startOnPty(); }
    QByteArray take(std::size_t n) {
        const auto got = ptytest::readBytes(farEnd->masterFd(), n, std::chrono::seconds(2));
        return {reinterpret_cast<const char*>(got.data()), static_cast<qsizetype>(got.size())};
    }
    static QByteArray hex(const char* text) { return QByteArray::fromHex(text); }
};

TEST_F(FramesOnPtyTest, SendPanelExamples) {
    window->cmbSend->setEditText(QStringLiteral("AB"));
    QTest::mouseClick(window->btnSend, Qt::LeftButton);
    EXPECT_EQ(take(15), hex("0F 5A 0F 00 00 FF FF FF FF FF FF FF FF 41 42"));
    window->cmbSend->setEditText(QString());
    QTest::mouseClick(window->btnSend, Qt::LeftButton);
    EXPECT_EQ(take(13), hex("0F 5A 0D 00 01 FF FF FF FF FF FF FF FF"));
    for (int i = 2; i < 256; ++i) context->sender.sendCommand(0x20, 0);
    EXPECT_EQ(take(13 * 254).size(), 13 * 254);
    context->sender.sendCommand(0x20, 0);  // number 0 again after 255
    EXPECT_EQ(take(13), hex("0F 5A 0D 20 00 FF FF FF FF FF FF FF FF"));
    auto& buffer = context->sender.commandBuffer();
    const QByteArray key5 = hex("83 41 00 00 05 FA");
    std::copy(key5.begin(), key5.end(), buffer.begin());
    context->sender.sendCommand(0x13, 6);
    EXPECT_EQ(take(19), hex("0F 5A 13 13 01 FF FF FF FF FF FF FF FF 83 41 00 00 05 FA"));
}

TEST_F(FramesOnPtyTest, ModulePanelCommands) {
    window->btnInitClick();
    const QByteArray init = take(36);
    ASSERT_EQ(init.size(), 36);
    EXPECT_EQ(init.left(4), hex("0F 5A 24 7E"));
    EXPECT_EQ(init[13 + 11], char(0));

    window->cmbDevice->setCurrentIndex(1);
    window->cmbDeviceCloseUp();
    QElapsedTimer t;
    t.start();
    window->btnRFchClick();
    EXPECT_GE(t.elapsed(), 100);
    EXPECT_EQ(
        take(28),
        hex("0F 5A 0E 20 01 FF FF FF FF FF FF FF FF 00 0F 5A 0E 21 02 FF FF FF FF FF FF FF FF 0F"));

    window->showReceivedIds({1, 2, 3, 4}, {0x0A, 0x0B, 0x0C, 0x0D});
    window->cmbRFch->setCurrentIndex(5);
    window->cmbRFpw->setCurrentIndex(2);
    window->btnToRFchClick();
    EXPECT_EQ(take(21), hex("0F 5A 15 17 03 0A 0B 0C 0D FF FF FF FF 03 05 02 00 00 00 00 00"));
}

}  // namespace
