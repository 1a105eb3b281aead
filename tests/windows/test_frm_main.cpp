// SPDX-License-Identifier: MIT
// The main window offscreen: start-up states, the connect toggle, the clock, shutdown.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

#include "session/app_context.h"
#include "session/event_wait.h"
#include "windows/frmMain.h"
#include "ui/qt_click_panel.h"
#include "windows/frmRem.h"
#include "support/main_window_fixture.h"
#include "windows/frmSurvey.h"

namespace {

TEST_F(MainWindowTest, StartupWithoutSettingsFileOpensDefaultPortAndFillsControls) {
    TfrmMain& w = start();
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Norvale Term for Orlin  [ Ver.20261208 ]"));
    EXPECT_EQ(w.width(), 788);
    const QRect area = w.screen()->availableGeometry();
    EXPECT_LE((w.geometry().center() - area.center()).manhattanLength(), 2) << "centred";
    EXPECT_EQ(serial.lastPath, "/dev/ttyS0");
    EXPECT_EQ(w.sBarPanel0->text(), QStringLiteral("COM1:OK"));
    EXPECT_EQ(w.btnComOpen->text(), QStringLiteral("接続中"));
    EXPECT_TRUE(w.connectedShown());
    EXPECT_EQ(w.pnlCom->text(), QStringLiteral("COM1"));
    EXPECT_EQ(w.pnlBps->text(), QStringLiteral("38400bps"));
    // Found by its name, read out with its value.
    QAccessibleInterface* port = QAccessible::queryAccessibleInterface(w.pnlCom);
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->text(QAccessible::Name), QStringLiteral("Port"));
    EXPECT_EQ(port->text(QAccessible::Value), QStringLiteral("COM1"));
    EXPECT_EQ(port->text(QAccessible::Description), QStringLiteral("COM1"));
    EXPECT_TRUE(w.pnlFont->text().startsWith(QStringLiteral("Size:")));
    EXPECT_EQ(w.pnlClock->text(), QString());
    EXPECT_TRUE(w.memoRecv->toPlainText().isEmpty());
    EXPECT_EQ(w.cmbSend->count(), 0);
    EXPECT_EQ(w.cmbSend->currentText(), QString());
    EXPECT_TRUE(w.ckOneShot->isHidden());
    EXPECT_FALSE(w.ckLogTime->isChecked());
    EXPECT_EQ(w.cmbRFch->count(), 16);
    EXPECT_EQ(w.cmbRFch->itemText(15), QStringLiteral("15ch"));
    EXPECT_EQ(w.cmbRFch->currentIndex(), 0);
    EXPECT_EQ(w.cmbRFpw->currentIndex(), 15);
    EXPECT_EQ(w.btnRFch->height(), 45);
    EXPECT_EQ(w.pnlSrcID->text(), QString());
    EXPECT_EQ(w.pnlDstID->text(), QString());
    EXPECT_EQ(w.cmbBps->currentIndex(), 0);
    EXPECT_TRUE(w.edtSysID->isHidden());
    EXPECT_EQ(w.pnlSysID->text(), QStringLiteral("SysID: 0x0000"));
    EXPECT_EQ(w.edtMsgID->text(), QStringLiteral("00"));
    EXPECT_EQ(w.edtDstID->text(), QStringLiteral("FF FF FF FF"));
    EXPECT_FALSE(w.mmOption->menuAction()->isVisible());
    EXPECT_TRUE(w.cmbDevice->isHidden());
    EXPECT_FALSE(w.cmbDevice->isEnabled());
    EXPECT_TRUE(w.btnToRFch->isHidden());
    EXPECT_TRUE(w.btnRead->isHidden());
    EXPECT_TRUE(prompts.shown.empty());
}

TEST_F(MainWindowTest, CaptionWithoutDateIsTheTitleAlone) {
    EXPECT_EQ(start(std::nullopt).windowTitle(), QStringLiteral("Norvale Term for Orlin"));
}

TEST_F(MainWindowTest, LoadedSettingsReachPanelsAndModuleIds) {
    writeIni(
        "[COMPORT]\r\nPortName=ttyUSB3\r\nBaudRate=115200\r\n[QL-UNIT]\r\nRFch____=12\r\n"
        "RFpw____=20\r\nSysID___=0x12AB\r\n");
    TfrmMain& w = start();
    EXPECT_EQ(serial.lastPath, "/dev/ttyUSB3");
    EXPECT_EQ(w.pnlCom->text(), QStringLiteral("ttyUSB3"));
    EXPECT_EQ(w.pnlBps->text(), QStringLiteral("115200bps"));
    EXPECT_EQ(w.cmbRFch->currentIndex(), 12);
    EXPECT_EQ(w.cmbRFpw->currentIndex(), -1);
    EXPECT_EQ(w.pnlSysID->text(), QStringLiteral("SysID: 0x12AB"));
    EXPECT_EQ(w.edtSysID->text(), QStringLiteral("0x12AB"));
}

TEST_F(MainWindowTest, StoredChannelAboveListIsClampedAndSavedThatWay) {
    writeIni("[QL-UNIT]\r\nRFch____=20\r\nRFpw____=3\r\n");
    TfrmMain& w = start();
    EXPECT_EQ(w.cmbRFch->currentIndex(), 15);
    EXPECT_EQ(w.cmbRFpw->currentIndex(), 15);
    w.close();
    const QByteArray saved = iniText();
    EXPECT_TRUE(saved.contains("RFch____=15\r\n")) << saved.constData();
    EXPECT_TRUE(saved.contains("RFpw____=15\r\n")) << saved.constData();
}

TEST_F(MainWindowTest, FailedStartupOpenIsSilentAndToggleReportsLaterFailures) {
    serial.refuseOpen = true;
    TfrmMain& w = start();
    EXPECT_TRUE(prompts.shown.empty());
    EXPECT_EQ(w.sBarPanel0->text(), QStringLiteral("COM1:OFF"));
    EXPECT_EQ(w.btnComOpen->text(), QStringLiteral("接続"));

    QTest::mouseClick(w.btnComOpen, Qt::LeftButton);
    EXPECT_TRUE(prompts.shown.empty()) << "reporting stays off until the port settings are seen";

    context->port.setReportOpenFailure(true);
    QTest::mouseClick(w.btnComOpen, Qt::LeftButton);
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].caption, QStringLiteral("Comm Open"));
    EXPECT_EQ(prompts.shown[0].text, QStringLiteral("INVALID HANDLE"));
    EXPECT_EQ(prompts.shown[0].icon, Prompts::Icon::Warning);
    EXPECT_EQ(w.btnComOpen->text(), QStringLiteral("接続"));
}

TEST_F(MainWindowTest, ConnectToggleClosesAndReopens) {
    TfrmMain& w = start();
    QTest::mouseClick(w.btnComOpen, Qt::LeftButton);
    EXPECT_FALSE(context->port.isOpen());
    EXPECT_EQ(w.sBarPanel0->text(), QStringLiteral("COM1:OFF"));
    EXPECT_EQ(w.btnComOpen->text(), QStringLiteral("接続"));
    EXPECT_FALSE(w.connectedShown());
    QTest::mouseClick(w.btnComOpen, Qt::LeftButton);
    EXPECT_TRUE(context->port.isOpen());
    EXPECT_EQ(w.sBarPanel0->text(), QStringLiteral("COM1:OK"));
    EXPECT_EQ(w.btnComOpen->palette().color(QPalette::ButtonText), QColor(Qt::blue));
}

// Reconnect as the user meets it: the box shows the stored setting, a vanished device is
// waited for and announced when back, the connect toggle gives the wait up, and the box's
// state is what the settings file keeps.
TEST_F(MainWindowTest, ReconnectBoxWaitsSaysSoAndTheToggleGivesUp) {
    writeIni("[COMPORT]\r\nPortName=ttyUSB0\r\nReconnect=1\r\n");
    TfrmMain& w = start();
    auto* box = w.findChild<QCheckBox*>(QStringLiteral("ckReconnect"));
    ASSERT_TRUE(box);
    EXPECT_TRUE(box->isChecked());
    const auto waits = [this] { return context->port.isWaiting(); };

    serial.vanished = true;
    ASSERT_TRUE(pumpUntil(waits, ticks, 3000));
    EXPECT_EQ(w.sBarPanel0->text(), QStringLiteral("ttyUSB0:WAIT"));
    EXPECT_EQ(w.btnComOpen->text(), QStringLiteral("接続中")) << "the port is still wanted";
    serial.vanished = false;
    ASSERT_TRUE(pumpUntil([this] { return context->port.isOpen(); }, ticks, 1000));
    EXPECT_EQ(w.sBarPanel0->text(), QStringLiteral("ttyUSB0:OK"));
    EXPECT_EQ(w.sBarPanel1->text(), QStringLiteral("再接続しました (reconnected)"));

    serial.vanished = true;
    serial.refuseOpen = true;
    ASSERT_TRUE(pumpUntil(waits, ticks, 3000));
    QTest::mouseClick(w.btnComOpen, Qt::LeftButton);
    EXPECT_FALSE(context->port.isWaiting());
    EXPECT_FALSE(context->port.isOpen());
    EXPECT_EQ(w.sBarPanel0->text(), QStringLiteral("ttyUSB0:OFF"));
    EXPECT_EQ(w.btnComOpen->text(), QStringLiteral("接続"));

    box->click();
    EXPECT_FALSE(context->settings.link.reconnect);
    w.close();
    EXPECT_TRUE(iniText().contains("\r\nReconnect=0\r\n")) << iniText().constData();
}

TEST_F(MainWindowTest, ClockWritesDateAndTimeOnTick) {
    TfrmMain& w = start();
    EXPECT_EQ(w.tmClock->interval(), 500);
    EXPECT_TRUE(w.tmClock->isActive());
    w.tmClockTimer();
    static const QRegularExpression form(
        QStringLiteral(R"(^\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}$)"));
    EXPECT_TRUE(form.match(w.pnlClock->text()).hasMatch()) << w.pnlClock->text().toStdString();
}

TEST_F(MainWindowTest, StatusBarDoubleClickFlipsSendPanel) {
    TfrmMain& w = start();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QTest::mouseDClick(w.sBarPanel1, Qt::LeftButton);
    EXPECT_FALSE(w.pnlSend->isVisible());
    QTest::mouseDClick(w.sBarPanel1, Qt::LeftButton);
    EXPECT_TRUE(w.pnlSend->isVisible());
}

TEST_F(MainWindowTest, MenuEntriesShowTestWindowsAndInitButton) {
    TfrmMain& w = start();
    w.show();
    auto* kp18 = w.findChild<QAction*>(QStringLiteral("mmKp18"));
    ASSERT_NE(kp18, nullptr);
    kp18->trigger();
    EXPECT_EQ(rem->keyCount(), 18);
    EXPECT_TRUE(rem->isVisible());
    w.mmSurvey->trigger();
    EXPECT_TRUE(survey->isVisible());
    EXPECT_TRUE(w.mmViewInitPnl->isChecked());
    w.mmViewInitPnl->trigger();
    EXPECT_FALSE(w.mmViewInitPnl->isChecked());
    EXPECT_FALSE(w.btnInit->isVisible());
    w.mmViewInitPnl->trigger();
    EXPECT_TRUE(w.btnInit->isVisible());
}

TEST_F(MainWindowTest, CloseSavesSettingsThenClosesPort) {
    TfrmMain& w = start();
    w.mmQuitClick();
    EXPECT_FALSE(context->port.isOpen());
    EXPECT_EQ(serial.closes, 1);
    const QByteArray saved = iniText();
    EXPECT_TRUE(saved.startsWith("[COMPORT]\r\nPortName=COM1\r\n")) << saved.constData();
    EXPECT_TRUE(saved.contains("ProID___=0x0000\r\n"));
}

TEST_F(MainWindowTest, UnwritableSettingsShowNgWithPathAndOldFileSurvives) {
    // Root ignores permissions, so a directory in place of the file is what cannot be written.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("norvale-term.ini")));
    TfrmMain& w = start();
    w.close();
    EXPECT_EQ(w.sBarPanel1->text(), QStringLiteral("NG ... ") + iniPath());
    EXPECT_TRUE(QFileInfo(iniPath()).isDir());
    EXPECT_FALSE(context->port.isOpen());
}

}  // namespace
