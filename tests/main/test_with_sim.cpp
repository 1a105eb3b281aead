// The terminal and orlin-sim together, as `./dev run` puts them: Send gets an answer into the
// monitor, and Read brings the module's IDs into the panel.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include "com/event_wait.h"
#include "ui/qt_click_panel.h"
#include "platform/linux_serial_device.h"
#include "support/main_window_fixture.h"

namespace {

// orlin-sim's transmitters, pressing keys 1-4, light the key panel's lamps through a pty.
TEST_F(MainWindowTest, SimulatedTransmittersLightTheKeyPanel) {
    QProcess sim;
    sim.start(QStringLiteral(ORLIN_SIM_BIN),
              {QStringLiteral("--transmitters"), QStringLiteral("4"), QStringLiteral("--keys"),
               QStringLiteral("1-4"), QStringLiteral("--rate"), QStringLiteral("20")});
    ASSERT_TRUE(sim.waitForStarted(5000));
    ASSERT_TRUE(sim.waitForReadyRead(5000));
    writeIni("[COMPORT]\r\nPortName=" + sim.readLine().trimmed() + "\r\n");
    realDevice = std::make_unique<LinuxSerialDevice>();
    start();
    window->mmKpClick(4);
    const auto lit = [this] {
        int n = 0;
        for (int k = 1; k <= 4; ++k) {
            auto* lamp =
                rem->findChild<QWidget*>(QStringLiteral("pnlK%1").arg(k, 2, 10, QLatin1Char('0')));
            if (lamp && lamp->palette().color(QPalette::Window) == QColor(0, 255, 0)) ++n;
        }
        return n;
    };
    EXPECT_TRUE(pumpUntil([&] { return lit() == 4; }, ticks, 5000)) << lit() << " lamps lit";
    survey.reset();
    rem.reset();
    window.reset();
    sim.terminate();
    sim.waitForFinished(3000);
}

class WithSimTest : public MainWindowTest {
protected:
    void SetUp() override {
        sim.setProcessChannelMode(QProcess::SeparateChannels);
        sim.start(QStringLiteral(ORLIN_SIM_BIN),
                  {QStringLiteral("--id"), QStringLiteral("01 02 03 04"), QStringLiteral("--sysid"),
                   QStringLiteral("0x1234"), QStringLiteral("--proid"), QStringLiteral("0x5678")});
        ASSERT_TRUE(sim.waitForStarted(5000));
        ASSERT_TRUE(sim.waitForReadyRead(5000));
        const QByteArray path = sim.readLine().trimmed();
        ASSERT_TRUE(path.startsWith("/dev/pts/")) << path.constData();
        writeIni("[COMPORT]\r\nPortName=" + path + "\r\n");
        realDevice = std::make_unique<LinuxSerialDevice>();
        start();
        ASSERT_TRUE(context->port.isOpen());
    }
    void TearDown() override {
        // Close the terminal before its module goes away; the peer windows go first, as the
        // fixture's own teardown would.
        survey.reset();
        rem.reset();
        window.reset();
        sim.terminate();
        sim.waitForFinished(3000);
    }
    bool waitFor(const std::function<bool()>& done) { return pumpUntil(done, ticks, 3000); }

    QProcess sim;
};

TEST_F(WithSimTest, SendIsAnsweredInTheMonitor) {
    window->cmbSend->setEditText(QStringLiteral("AB"));
    QTest::mouseClick(window->btnSend, Qt::LeftButton);
    ASSERT_TRUE(waitFor([this] { return window->sBarPanel0->text() == QStringLiteral("1"); }));
    const QString line = window->memoRecv->toPlainText();
    EXPECT_TRUE(line.startsWith(QStringLiteral(" 0Fh 5Ah"))) << line.toStdString();
    // The answer comes from the module's ID and goes to ours.
    EXPECT_EQ(window->pnlDstID->text(), QStringLiteral("01 02 03 04 "));
    EXPECT_EQ(window->pnlSrcID->text(), QStringLiteral("FF FF FF FF "));
}

TEST_F(WithSimTest, ReadBringsTheModulesIds) {
    window->btnReadClick();
    ASSERT_TRUE(
        waitFor([this] { return window->pnlSysID->text() == QStringLiteral("SysID: 0x1234"); }));
    EXPECT_EQ(window->pnlProID->text(), QStringLiteral("ProID: 0x5678"));
}

TEST_F(WithSimTest, MyRfchChangesWhatTheModuleReports) {
    window->edtSysID->setText(QStringLiteral("0xBEEF"));
    window->edtSysIDKeyPress(QChar(13));
    window->btnRFchClick();
    // Forget it locally; only the module's answer can bring it back.
    window->edtSysID->setText(QStringLiteral("0"));
    window->edtSysIDKeyPress(QChar(13));
    ASSERT_EQ(window->pnlSysID->text(), QStringLiteral("SysID: 0x0000"));
    window->btnReadClick();
    ASSERT_TRUE(
        waitFor([this] { return window->pnlSysID->text() == QStringLiteral("SysID: 0xBEEF"); }));
}

}  // namespace
