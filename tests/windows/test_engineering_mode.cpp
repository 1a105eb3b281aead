// SPDX-License-Identifier: MIT
// Engineering mode: without it the main window shows exactly its everyday controls and nothing
// hidden is reachable; with it the Option menu and the module panel's engineering controls are
// there and work against a module on a pty.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <algorithm>

#include "session/event_wait.h"
#include "platform/linux_serial_device.h"
#include "support/main_window_fixture.h"
#include "ui/qt_click_panel.h"

namespace {

QStringList visibleNames(const QWidget& root) {
    QStringList names;
    for (const QWidget* w : root.findChildren<QWidget*>()) {
        if (w->isVisible() && !w->objectName().isEmpty() &&
            !w->objectName().startsWith(QStringLiteral("qt_")))
            names << w->objectName();
    }
    names.sort();
    return names;
}

QStringList visibleMenus(const QMenuBar& bar) {
    QStringList menus;
    for (const QAction* a : bar.actions()) {
        if (a->isVisible()) menus << a->text();
    }
    return menus;
}

const QStringList kEngineeringControls{
    QStringLiteral("btnRead"),   QStringLiteral("btnToRFch"), QStringLiteral("cmbBps"),
    QStringLiteral("cmbDevice"), QStringLiteral("ckOneShot"), QStringLiteral("lblBps"),
    QStringLiteral("lblDevice"), QStringLiteral("pnlProID"),  QStringLiteral("pnlSysID")};

TEST_F(MainWindowTest, WithoutEngineeringModeOnlyTheEverydayControlsShow) {
    start();
    window->show();
    const QStringList shown = visibleNames(*window);
    for (const QString& name : kEngineeringControls)
        EXPECT_FALSE(shown.contains(name)) << name.toStdString();
    EXPECT_EQ(shown.join(u' ').toStdString(),
              "MainMenu1 btnClear btnComOpen btnInit btnRFch btnSend ckLogTime ckReconnect ckSendHex cmbRFch "
              "cmbRFpw cmbSend edtDstID edtMsgID edtSrcID lblDstID lblSendDstID lblSendMsgID "
              "lblSendSrcID lblSendText lblSrcID memoRecv pnlBps pnlClock pnlCom pnlDstID "
              "pnlFont pnlRecv pnlSend pnlSrcID pnlTop sBar sBarPanel0 sBarPanel1");
    EXPECT_EQ(visibleMenus(*window->menuBar()), QStringList{QStringLiteral("ﾌｧｲﾙ (&File)")});
    EXPECT_EQ(window->windowTitle().contains(QStringLiteral("[engineering]")), false);

    // Alt+O opens nothing, and the focus chain never lands on a hidden control.
    window->activateWindow();
    QTest::keyClick(window.get(), Qt::Key_O, Qt::AltModifier);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    for (int i = 0; i < 40; ++i) {
        QWidget* focus = QApplication::focusWidget();
        if (focus != nullptr) {
            EXPECT_TRUE(focus->isVisible()) << focus->objectName().toStdString();
        }
        QTest::keyClick(focus != nullptr ? focus : window.get(), Qt::Key_Tab);
    }
}

// With the mode on, against orlin-sim with a transmitter pressing key 3: Read brings the
// module's IDs, Kp08 from the Option menu lights key 3, and a 1 s survey run counts it.
TEST_F(MainWindowTest, EngineeringModeControlsWorkAgainstAModule) {
    QProcess sim;
    sim.start(QStringLiteral(ORLIN_SIM_BIN),
              {QStringLiteral("--sysid"), QStringLiteral("0x1234"), QStringLiteral("--proid"),
               QStringLiteral("0x5678"), QStringLiteral("--transmitters"), QStringLiteral("1"),
               QStringLiteral("--keys"), QStringLiteral("3"), QStringLiteral("--rate"),
               QStringLiteral("10")});
    ASSERT_TRUE(sim.waitForStarted(5000));
    ASSERT_TRUE(sim.waitForReadyRead(5000));
    writeIni("[COMPORT]\r\nPortName=" + sim.readLine().trimmed() + "\r\n");
    realDevice = std::make_unique<LinuxSerialDevice>();
    start();
    window->setEngineeringMode();
    window->show();
    const QStringList shown = visibleNames(*window);
    for (const QString& name : kEngineeringControls)
        EXPECT_TRUE(shown.contains(name)) << name.toStdString();
    EXPECT_TRUE(window->cmbDevice->isEnabled());
    EXPECT_TRUE(window->windowTitle().endsWith(QStringLiteral(" [engineering]")));
    EXPECT_EQ(visibleMenus(*window->menuBar()).size(), 2);
    const auto wait = [this](const std::function<bool()>& done) {
        return pumpUntil(done, ticks, 5000);
    };

    QTest::mouseClick(window->btnRead, Qt::LeftButton);
    EXPECT_TRUE(
        wait([this] { return window->pnlSysID->text() == QStringLiteral("SysID: 0x1234"); }));
    EXPECT_EQ(window->pnlProID->text(), QStringLiteral("ProID: 0x5678"));

    window->findChild<QAction*>(QStringLiteral("mmKp08"))->trigger();
    ASSERT_TRUE(rem->isVisible());
    auto* lamp = rem->findChild<QWidget*>(QStringLiteral("pnlK03"));
    ASSERT_NE(lamp, nullptr);
    EXPECT_TRUE(
        wait([lamp] { return lamp->palette().color(QPalette::Window) == QColor(0, 255, 0); }));
    rem->hide();

    window->mmSurvey->trigger();
    ASSERT_TRUE(survey->isVisible());
    survey->edtTout->setText(QStringLiteral("1"));
    QTest::mouseClick(survey->btnStart, Qt::LeftButton);
    ASSERT_EQ(survey->btnStart->text(), QStringLiteral("Busy"));
    EXPECT_TRUE(wait([this] { return survey->btnStart->text() == QStringLiteral("Start"); }));
    EXPECT_EQ(survey->tally().count(3), 1);
    survey.reset();
    rem.reset();
    window.reset();
    sim.terminate();
    sim.waitForFinished(3000);
}

}  // namespace
