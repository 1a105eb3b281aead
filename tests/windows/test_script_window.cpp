// SPDX-License-Identifier: MIT
// Scripts in the window: the frames of the script API against the panels' own, and a script
// running beside the monitor, the send panel and the Stop entry.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>

#include "windows/script_window.h"
#include "session/event_wait.h"
#include "support/main_window_fixture.h"
#include "support/pty_master.h"

namespace {

class ScriptWindowTest : public MainWindowTest {
protected:
    void TearDown() override {
        scripts.reset();
        survey.reset();
        rem.reset();
        window.reset();
    }
    void startScripts() { scripts = std::make_unique<ScriptWindow>(*context, *window); }
    // Runs the script to its end; the result.
    const ScriptResult& runToEnd(const QByteArray& source) {
        const QString path = dir.filePath(QStringLiteral("t.lua"));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(source);
        f.close();
        scripts->runScript(path);
        EXPECT_TRUE(pumpUntil([this] { return !scripts->host().running(); }, ticks, 5000));
        return scripts->host().result();
    }
    QByteArray takeWrites() {
        QByteArray all;
        for (const QByteArray& w : serial.writes) all += w;
        serial.writes.clear();
        return all;
    }
    std::unique_ptr<ScriptWindow> scripts;
};

// Every frame the API sends equals byte for byte what the panel sends for the same values,
// each from sequence number 0.
TEST_F(ScriptWindowTest, ApiFramesEqualThePanelsFrames) {
    start();
    startScripts();
    window->mmKpClick(4);
    const struct {
        const char* what;
        std::function<void()> panel;
        const char* script;
    } cases[] = {
        {"send, hex payload",
         [this] {
             window->edtMsgID->setText(QStringLiteral("2A"));
             window->edtDstID->setText(QStringLiteral("01 02 03 04"));
             window->edtSrcID->setText(QStringLiteral("FF FF FF FF"));
             window->ckSendHex->setChecked(true);
             window->cmbSend->setEditText(QStringLiteral("0A 0B 0C"));
             window->btnSendClick();
         },
         "send{msgid = 0x2A, dst = '01 02 03 04', hex = '0a0b 0c'}"},
        {"send, text payload",
         [this] {
             window->edtMsgID->setText(QStringLiteral("10"));
             window->edtDstID->setText(QStringLiteral("FF FF FF FF"));
             window->edtSrcID->setText(QStringLiteral("10 20 30 40"));
             window->ckSendHex->setChecked(false);
             window->cmbSend->setEditText(QStringLiteral("AB"));
             window->btnSendClick();
         },
         "send{msgid = 16, src = {0x10, 0x20, 0x30, 0x40}, payload = 'AB'}"},
        {"My RFch, first model",
         [this] {
             window->cmbRFch->setCurrentIndex(5);
             window->cmbRFpw->setCurrentIndex(3);
             window->btnRFchClick();
         },
         "module.set_rf(5, 3)"},
        {"Init, first model",
         [this] {
             window->cmbRFch->setCurrentIndex(7);
             window->cmbRFpw->setCurrentIndex(2);
             window->cmbBps->setCurrentIndex(5);
             window->btnInitClick();
         },
         "module.init(7, 2, 115200)"},
        {"Read, first model", [this] { window->btnReadClick(); }, "module.read(0)"},
        {"a key", [this] { rem->sendKey(7); }, "keys.press(7)"},
        {"a key with another maker code",
         [this] {
             rem->edtMakerCode->setText(QStringLiteral("12h 34h 56h 78h"));
             rem->sendKey(3);
         },
         "keys.press(3, '12 34 56 78')"},
        {"My RFch, second model",
         [this] {
             window->cmbDevice->setCurrentIndex(1);
             window->cmbDeviceCloseUp();
             window->cmbRFch->setCurrentIndex(9);
             window->cmbRFpw->setCurrentIndex(4);
             window->btnRFchClick();
         },
         "module.set_rf(9, 4)"},
        {"Init, second model",
         [this] {
             window->cmbRFch->setCurrentIndex(2);
             window->cmbRFpw->setCurrentIndex(1);
             window->btnInitClick();
         },
         "module.init(2, 1)"},
        {"Read, second model", [this] { window->btnReadClick(); }, "module.read(0)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        context->sender.resetSequence();
        takeWrites();
        c.panel();
        const QByteArray panel = takeWrites();
        ASSERT_FALSE(panel.isEmpty());
        context->sender.resetSequence();
        const ScriptResult& r = runToEnd(QByteArray(c.script) + "\n");
        EXPECT_NE(r.outcome, ScriptOutcome::Error) << r.message.toStdString();
        EXPECT_EQ(takeWrites().toHex(' ').toStdString(), panel.toHex(' ').toStdString());
    }
}

// A script that waits leaves the window working: units reach the monitor, a click on Send
// goes out numbered after the script's frame, Stop ends the script at once, and the monitor
// and the status bar tell what happened, marked so that no line reads as a unit.
TEST_F(ScriptWindowTest, RunsBesideTheWindowAndStopsAtOnce) {
    startOnPty();
    startScripts();
    EXPECT_TRUE(scripts->sBarScript->isHidden());
    EXPECT_FALSE(scripts->mmStopScript->isEnabled());
    const QString path = dir.filePath(QStringLiteral("w.lua"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("send{msgid = 1}\ncheck(true, 'sent')\nwait(60000)\n");
    f.close();
    context->sender.resetSequence();
    scripts->runScript(path);
    ASSERT_TRUE(scripts->host().running());
    const int fd = farEnd->masterFd();
    ASSERT_TRUE(
        pumpUntil([this] { return scripts->host().result().checks.size() == 1; }, ticks, 3000));
    EXPECT_EQ(ptytest::readBytes(fd, 13, std::chrono::milliseconds(2000)).size(), 13u);

    const int before = window->monitorLineCount();
    ASSERT_TRUE(ptytest::writeAll(fd, {0x0F, 0x5A, 0x0F, 0x06, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x10,
                                       0x00, 0x00, 0x01, 0x01, 0x00}));
    EXPECT_TRUE(pumpUntil([&] { return window->monitorLineCount() > before; }, ticks, 3000));

    window->edtMsgID->setText(QStringLiteral("2A"));
    window->ckSendHex->setChecked(true);
    window->cmbSend->setEditText(QString());
    window->btnSendClick();
    const auto clicked = ptytest::readBytes(fd, 13, std::chrono::milliseconds(2000));
    ASSERT_EQ(clicked.size(), 13u);
    EXPECT_EQ(clicked[4], 1) << "the send panel goes on from the script's sequence number";
    EXPECT_TRUE(scripts->host().running());
    EXPECT_FALSE(scripts->sBarScript->isHidden());
    EXPECT_TRUE(scripts->sBarScript->text().contains(QStringLiteral("OK 1")));

    QElapsedTimer stopping;
    stopping.start();
    scripts->mmStopScript->trigger();
    EXPECT_TRUE(pumpUntil([&] { return !scripts->host().running(); }, ticks, 100));
    EXPECT_LT(stopping.elapsed(), 100);
    EXPECT_EQ(scripts->host().result().outcome, ScriptOutcome::Stopped);
    window->flush();
    const QString monitor = window->memoRecv->toPlainText();
    EXPECT_TRUE(monitor.contains(QStringLiteral("## script: PASS sent")));
    EXPECT_TRUE(monitor.contains(QStringLiteral("## script: stopped")));
    EXPECT_TRUE(scripts->mmRunScript->isEnabled());
    EXPECT_TRUE(prompts.shown.empty());
}

// A script error names file:line in a box; so does a syntax error.
TEST_F(ScriptWindowTest, AnErrorNamesItsLine) {
    start();
    startScripts();
    for (const QByteArray& source :
         {QByteArray("log('a')\nsend{msgid = 300}\n"), QByteArray("log('a')\nlocal = 1\n")}) {
        prompts.shown.clear();
        const ScriptResult& r = runToEnd(source);
        EXPECT_EQ(r.outcome, ScriptOutcome::Error);
        ASSERT_EQ(prompts.shown.size(), 1u);
        EXPECT_TRUE(prompts.shown[0].text.contains(QStringLiteral("t.lua:2:")))
            << prompts.shown[0].text.toStdString();
    }
}

}  // namespace
