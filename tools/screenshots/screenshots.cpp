// SPDX-License-Identifier: MIT
// Makes the README's pictures: the real windows, talking to orlin-sim, saved as PNG files.
// Run by `./dev screenshots` under a virtual display so the pictures stay current.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFontDialog>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>
#include <cstdio>
#include <memory>

#include "session/app_context.h"
#include "windows/frmCom.h"
#include "windows/frmMain.h"
#include "ui/qt_font_dialog.h"
#include "platform/linux_serial_device.h"
#include "ui/qt_prompts.h"
#include "platform/sound.h"
#include "platform/steady_ticks.h"
#include "windows/frmRem.h"
#include "windows/frmSurvey.h"

namespace {

void settle(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool save(QWidget& w, const QString& path) {
    w.raise();
    settle(300);
    const bool ok = w.window()->grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString out =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs/screenshots");
    QDir().mkpath(out);

    QProcess sim;
    sim.start(QStringLiteral(ORLIN_SIM_BIN),
              {QStringLiteral("--transmitters"), QStringLiteral("12"), QStringLiteral("--rate"),
               QStringLiteral("6"), QStringLiteral("--random"), QStringLiteral("--seed"),
               QStringLiteral("3"), QStringLiteral("--sysid"), QStringLiteral("0x12AB"),
               QStringLiteral("--proid"), QStringLiteral("0x8341")});
    if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000)) return 1;
    const QByteArray pty = sim.readLine().trimmed();

    QTemporaryDir dir;
    QFile ini(dir.filePath(QStringLiteral("norvale-term.ini")));
    if (!ini.open(QIODevice::WriteOnly)) return 1;
    ini.write("[COMPORT]\r\nPortName=" + pty + "\r\n");
    ini.close();

    LinuxSerialDevice serial;
    SteadyTicks ticks;
    QtPrompts prompts;
    NullSound sound;
    AppContext context({serial,
                        ticks,
                        prompts,
                        sound,
                        {dir.filePath(QStringLiteral("norvale-term")), QDate::currentDate()}});
    TfrmMain frmMain(context);
    TfrmRem frmRem(context, &frmMain);
    TfrmSurvey frmSurvey(context, frmMain, &frmMain);
    frmMain.setPeerWindows(&frmRem, &frmSurvey);
    frmMain.move(0, 0);
    frmMain.show();
    settle(600);
    frmMain.cmbSend->setEditText(QStringLiteral("Hello, Orlin"));
    frmMain.btnSendClick();
    frmMain.btnReadClick();
    settle(1500);
    bool ok = save(frmMain, out + QStringLiteral("/main-window.png"));

    // The inspector, wider than the everyday window so the decoded fields fit: the settings
    // response, then a key frame.
    frmMain.resize(1180, 640);
    frmMain.setInspectorShown(true);
    const auto inspectFirst = [&frmMain](const QString& start) {
        for (QTextBlock b = frmMain.memoRecv->document()->begin(); b.isValid(); b = b.next()) {
            if (!b.text().startsWith(start)) continue;
            frmMain.memoRecv->setTextCursor(QTextCursor(b));
            return true;
        }
        return false;
    };
    ok = inspectFirst(QStringLiteral(" 0Fh 5Ah 2Ch 00h")) &&
         save(frmMain, out + QStringLiteral("/inspector-settings-response.png")) && ok;
    ok = inspectFirst(QStringLiteral(" 0Fh 5Ah 13h 13h")) &&
         save(frmMain, out + QStringLiteral("/inspector-key-frame.png")) && ok;
    frmMain.setInspectorShown(false);
    frmMain.resize(788, 560);

    {
        TfrmCom dialog(
            context, nullptr, [] {}, &frmMain);
        dialog.show();
        ok = save(dialog, out + QStringLiteral("/port-settings.png")) && ok;
    }

    {
        const std::unique_ptr<QFontDialog> dialog(
            buildMonitorFontDialog({frmMain.memoRecv->font(), QColor(0, 0, 128)}, &frmMain));
        dialog->show();
        settle(300);
        ok = save(*dialog, out + QStringLiteral("/font-dialog.png")) && ok;
    }

    frmRem.setKeyCount(18);
    frmRem.show();
    settle(2000);
    ok = save(frmRem, out + QStringLiteral("/key-panel.png")) && ok;
    frmRem.hide();
    for (int keys : {8, 70}) {
        frmRem.setKeyCount(keys);
        frmRem.show();
        settle(500);
        ok = save(frmRem, out + QStringLiteral("/key-panel-%1.png").arg(keys)) && ok;
        frmRem.hide();
    }

    frmSurvey.show();
    settle(300);
    if (auto* start = frmSurvey.findChild<QPushButton*>(QStringLiteral("btnStart"))) start->click();
    settle(3000);
    ok = save(frmSurvey, out + QStringLiteral("/survey.png")) && ok;
    frmSurvey.hide();

    // Engineering mode at the window's default size and at 1280x1024.
    frmMain.setEngineeringMode();
    settle(300);
    ok = save(frmMain, out + QStringLiteral("/main-window-engineering.png")) && ok;
    frmMain.resize(1280, 1024 - 60);
    settle(300);
    ok = save(frmMain, out + QStringLiteral("/main-window-engineering-large.png")) && ok;

    frmMain.close();
    sim.terminate();
    sim.waitForFinished(3000);
    return ok ? 0 : 1;
}
