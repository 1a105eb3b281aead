// SPDX-License-Identifier: MIT
// The terminal and orlin-sim together, as `./dev run` puts them: Send gets an answer into the
// monitor, and Read brings the module's IDs into the panel.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include <iostream>

#include "session/event_wait.h"
#include "ui/qt_click_panel.h"
#include "platform/linux_serial_device.h"
#include "support/fake_port_candidates.h"
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

// orlin-sim behind `--link`, stopped and started again at the same link, as a module that
// loses power for a moment. The link then leads to a new pty.
class SimBehindLinkTest : public MainWindowTest {
protected:
    void TearDown() override {
        closeWindows();
        for (QProcess* sim : {&first, &second}) {
            sim->terminate();
            sim->waitForFinished(3000);
        }
    }
    // The context too: the next row's device replaces the one its port uses.
    void closeWindows() {
        survey.reset();
        rem.reset();
        window.reset();
        context.reset();
    }
    [[nodiscard]] QString link() const { return dir.filePath(QStringLiteral("orlin-pty")); }
    // Its pty, once the link to it is in place.
    QString startSim(QProcess& sim) {
        sim.start(QStringLiteral(ORLIN_SIM_BIN), {QStringLiteral("--link"), link()});
        if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000)) return {};
        return QString::fromLocal8Bit(sim.readLine().trimmed());
    }

    QProcess first;
    QProcess second;
    ChangingCandidates candidates;
};

TEST_F(SimBehindLinkTest, RestartedModuleIsReopenedOnlyWithReconnectAndOnlyIfItIsNoAdapter) {
    const struct {
        const char* row;
        bool reconnect;
        bool adapterAtLink;  // the link now leads to a listed USB adapter
        const char* whileAway;
        bool reopened;
    } cases[] = {
        {"Reconnect on", true, false, ":WAIT", true},
        {"Reconnect off", false, false, ":OFF", false},
        {"Reconnect on, an adapter at the link", true, true, ":WAIT", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.row);
        ASSERT_FALSE(startSim(first).isEmpty());
        writeIni("[COMPORT]\r\nPortName=" + link().toLocal8Bit() +
                 "\r\nReconnect=" + (c.reconnect ? "1" : "0") + "\r\n");
        realDevice = std::make_unique<LinuxSerialDevice>();
        candidates.present.clear();
        start();
        window->setPortCandidates(&candidates);
        ASSERT_TRUE(context->port.isOpen());

        first.terminate();
        ASSERT_TRUE(first.waitForFinished(3000));
        const QString away = link() + QString::fromLatin1(c.whileAway);
        ASSERT_TRUE(pumpUntil([&] { return window->sBarPanel0->text() == away; }, ticks, 3000))
            << window->sBarPanel0->text().toStdString();

        const QString pty = startSim(second);
        ASSERT_FALSE(pty.isEmpty());
        if (c.adapterAtLink) candidates.present = {usbAdapter(pty, "SN1")};
        const std::uint32_t back = ticks.now();
        if (c.reopened) {
            ASSERT_TRUE(pumpUntil([this] { return context->port.isOpen(); }, ticks, 2000));
            const std::uint32_t delay = ticks.now() - back;
            std::cout << "[ reopened " << delay << " ms after the link was back ]\n";
            EXPECT_LT(delay, 1000u);
            EXPECT_EQ(window->sBarPanel0->text(), link() + QStringLiteral(":OK"));
            window->cmbSend->setEditText(QStringLiteral("AB"));
            QTest::mouseClick(window->btnSend, Qt::LeftButton);
            ASSERT_TRUE(pumpUntil(
                [this] {
                    return window->memoRecv->toPlainText().startsWith(QStringLiteral(" 0Fh 5Ah"));
                },
                ticks, 3000))
                << "the module answers on the reopened port";
        } else {
            pumpFor(3 * PortDriver::kReconnectPollMs + 100, ticks);
            EXPECT_FALSE(context->port.isOpen());
            EXPECT_EQ(window->sBarPanel0->text(), away);
        }
        closeWindows();
        second.terminate();
        ASSERT_TRUE(second.waitForFinished(3000));
    }
}

}  // namespace
