// SPDX-License-Identifier: MIT
// The send panel driven through its widgets: what reaches the device and the history.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "ui/qt_click_panel.h"
#include "support/main_window_fixture.h"

namespace {

class SendPanelTest : public MainWindowTest {
protected:
    void SetUp() override {
        start();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    void send(const QString& parameter) {
        window->cmbSend->setEditText(parameter);
        QTest::mouseClick(window->btnSend, Qt::LeftButton);
    }
    [[nodiscard]] QStringList history() const {
        QStringList items;
        for (int i = 0; i < window->cmbSend->count(); ++i) items << window->cmbSend->itemText(i);
        return items;
    }
};

TEST_F(SendPanelTest, FirstFrameGoesOutAsHeaderThenPayload) {
    send(QStringLiteral("AB"));
    ASSERT_EQ(serial.writes.size(), 2u);
    EXPECT_EQ(serial.writes[0], QByteArray::fromHex("0F5A0F0000FFFFFFFFFFFFFFFF"));
    EXPECT_EQ(serial.writes[1], QByteArray("AB"));
    send(QString());
    ASSERT_EQ(serial.writes.size(), 4u);
    EXPECT_EQ(serial.writes[2], QByteArray::fromHex("0F5A0D0001FFFFFFFFFFFFFFFF"));
    EXPECT_TRUE(serial.writes[3].isEmpty());
}

TEST_F(SendPanelTest, HistoryKeepsDistinctTextsInOrderOfFirstSending) {
    for (const char* text : {"ab", "ab", "AB", "ab ", "", ""}) send(QString::fromLatin1(text));
    EXPECT_EQ(history(), (QStringList{QStringLiteral("ab"), QStringLiteral("AB"),
                                      QStringLiteral("ab "), QString()}));
    EXPECT_EQ(serial.writes.size(), 12u);
}

// Typed as a user types: keys go to whichever widget has the focus, and clicking Send takes
// the focus from the parameter box, which ends its editing.
TEST_F(SendPanelTest, TypedTextsDifferingInCaseAreSentAsTypedAndKeptApart) {
    window->cmbSend->setFocus();
    for (const char* text : {"ab", "AB", "Ab"}) {
        window->cmbSend->setFocus();
        window->cmbSend->lineEdit()->selectAll();
        QTest::keyClicks(QApplication::focusWidget(), QString::fromLatin1(text));
        QTest::mouseClick(window->btnSend, Qt::LeftButton);
        ASSERT_FALSE(serial.writes.empty());
        EXPECT_EQ(serial.writes.back(), QByteArray(text));
    }
    EXPECT_EQ(history(),
              (QStringList{QStringLiteral("ab"), QStringLiteral("AB"), QStringLiteral("Ab")}));
}

TEST_F(SendPanelTest, MalformedIdShowsConversionErrorSendsNothingKeepsHistory) {
    window->edtDstID->setText(QStringLiteral("FF FF FF GG"));
    send(QStringLiteral("x"));
    EXPECT_TRUE(serial.writes.empty());
    EXPECT_TRUE(history().isEmpty());
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text, QStringLiteral("'0xGG' は整数ではありません"));
    EXPECT_EQ(prompts.shown[0].caption, QStringLiteral("Norvale Term for Orlin"));
    // The failed send consumed sequence number 0.
    window->edtDstID->setText(QStringLiteral("FF FF FF FF"));
    send(QStringLiteral("x"));
    ASSERT_EQ(serial.writes.size(), 2u);
    EXPECT_EQ(static_cast<unsigned char>(serial.writes[0][4]), 1);
}

TEST_F(SendPanelTest, HexModeAndUnencodableText) {
    QTest::mouseClick(window->ckSendHex, Qt::LeftButton);
    ASSERT_TRUE(window->parameterHexMode());
    send(QStringLiteral("01 02 AB"));
    ASSERT_EQ(serial.writes.size(), 2u);
    EXPECT_EQ(serial.writes[1], QByteArray::fromHex("0102AB"));
    QTest::mouseClick(window->ckSendHex, Qt::LeftButton);
    send(QStringLiteral("€"));
    EXPECT_EQ(serial.writes.size(), 2u);
    EXPECT_EQ(history(), QStringList{QStringLiteral("01 02 AB")});
    ASSERT_EQ(prompts.shown.size(), 1u);
}

TEST_F(SendPanelTest, EnterMovesFocusToSendWithoutSending) {
    window->cmbSend->setFocus();
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("hello"));
    // Enter goes where a keyboard sends it: to the focus widget, not to the inner line edit.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_TRUE(serial.writes.empty());
    EXPECT_TRUE(history().isEmpty());
    EXPECT_TRUE(window->btnSend->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    ASSERT_EQ(serial.writes.size(), 2u);
    EXPECT_EQ(serial.writes[1], QByteArray("hello"));
}

TEST_F(SendPanelTest, IdShortcutsAndSrcIdFollowMode) {
    QTest::mouseDClick(window->lblSendDstID, Qt::LeftButton);
    EXPECT_EQ(window->edtDstID->text(), QString()) << "nothing received yet";

    window->edtSrcID->setText(QStringLiteral("12 34 56 78"));
    QTest::mouseClick(window->lblSendSrcID, Qt::LeftButton);
    EXPECT_TRUE(window->srcIdFollowMode());
    EXPECT_EQ(window->edtSrcID->text(), QStringLiteral("12 34 56 78"));
    EXPECT_EQ(window->lblSendSrcID->palette().color(QPalette::WindowText), QColor(Qt::red));
    EXPECT_EQ(window->lblSendSrcID->y(), window->lblSendMsgID->y());

    window->showReceivedIds({1, 2, 3, 4}, {0x0A, 0x0B, 0x0C, 0x0D});
    EXPECT_EQ(window->pnlSrcID->text(), QStringLiteral("01 02 03 04 "));
    EXPECT_EQ(window->pnlDstID->text(), QStringLiteral("0A 0B 0C 0D "));
    EXPECT_EQ(window->edtSrcID->text(), QStringLiteral("0A 0B 0C 0D "));
    QTest::mouseDClick(window->lblSendDstID, Qt::LeftButton);
    EXPECT_EQ(window->edtDstID->text(), QStringLiteral("0A 0B 0C 0D "));

    QTest::mouseClick(window->lblSendSrcID, Qt::LeftButton);
    EXPECT_FALSE(window->srcIdFollowMode());
    EXPECT_EQ(window->edtSrcID->text(), QStringLiteral("FF FF FF FF"));
    EXPECT_EQ(window->lblSendSrcID->palette().color(QPalette::WindowText),
              window->lblSendMsgID->palette().color(QPalette::WindowText));
}

// The panels show the IDs of a flood at the paint rate; a send in between still follows the
// latest frame.
TEST_F(SendPanelTest, SendRightAfterFramesFollowsTheLatestId) {
    QTest::mouseClick(window->lblSendSrcID, Qt::LeftButton);
    for (const char* frame :
         {"0F5A10000001020304AABBCCDD000000", "0F5A1000000102030411223344000000"}) {
        const QByteArray bytes = QByteArray::fromHex(frame);
        window->receivePipeline().received(
            {reinterpret_cast<const std::uint8_t*>(bytes.constData()),
             static_cast<std::size_t>(bytes.size())},
            ticks.now());
    }
    send(QStringLiteral("AB"));
    ASSERT_EQ(serial.writes.size(), 2u);
    EXPECT_EQ(serial.writes[0].mid(9, 4), QByteArray::fromHex("11223344"));
    EXPECT_EQ(window->pnlDstID->text(), QStringLiteral("11 22 33 44 "));
}

// A double-click is a click and a double-click, not two clicks: the follow mode turns on once.
TEST_F(SendPanelTest, DoubleClickOnSrcIdLabelTogglesFollowModeOnce) {
    // Press, release, then either a second press and the double-click or the double-click in
    // its place (window systems differ), then the release.
    for (const bool secondPress : {true, false}) {
        QTest::mouseClick(window->lblSendSrcID, Qt::LeftButton);
        if (secondPress) QTest::mousePress(window->lblSendSrcID, Qt::LeftButton);
        QTest::mouseDClick(window->lblSendSrcID, Qt::LeftButton);
        QTest::mouseRelease(window->lblSendSrcID, Qt::LeftButton);
        EXPECT_TRUE(window->srcIdFollowMode()) << secondPress;
        QTest::mouseClick(window->lblSendSrcID, Qt::LeftButton);
        EXPECT_FALSE(window->srcIdFollowMode()) << "the next single click counts again";
    }
}

TEST_F(SendPanelTest, MsgIdLabelClearsMonitor) {
    window->memoRecv->setPlainText(QStringLiteral(" 0Fh 5Ah"));
    window->sBarPanel0->setText(QStringLiteral("1"));
    QTest::mouseClick(window->lblSendMsgID, Qt::LeftButton);
    EXPECT_TRUE(window->memoRecv->toPlainText().isEmpty());
    EXPECT_EQ(window->sBarPanel0->text(), QString());
}

TEST_F(SendPanelTest, SequenceWrapsAfter256Frames) {
    for (int i = 0; i < 257; ++i) context->sender.sendCommand(0x20, 0);
    ASSERT_EQ(serial.writes.size(), 514u);
    EXPECT_EQ(static_cast<unsigned char>(serial.writes[510][4]), 255);
    EXPECT_EQ(static_cast<unsigned char>(serial.writes[512][4]), 0);
}

}  // namespace
