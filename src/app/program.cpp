#include "app/program.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <cstdio>
#include <exception>

#include "com/app_context.h"
#include "main/frmMain.h"
#include "ui/qt_label_accessibility.h"
#include "platform/canberra_sound.h"
#include "platform/executable_info.h"
#include "platform/linux_serial_device.h"
#include "platform/qt_port_candidates.h"
#include "platform/qt_prompts.h"
#include "platform/single_instance.h"
#include "platform/termination_signals.h"
#include "platform/ticks.h"
#include "rem/frmRem.h"
#include "survey/frmSurvey.h"

namespace {

// Brought back in its normal size and place, whether it was minimised or maximised.
void raise(QWidget& window) {
    window.setWindowState((window.windowState() &
                           ~(Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)) |
                          Qt::WindowActive);
    window.show();
    window.raise();
    window.activateWindow();
}

// The single-instance rule's detours, so that a terminal that starts without it says why.
void reportNotes(SingleInstance& instance) {
    for (const QString& note : instance.takeNotes())
        std::fprintf(stderr, "norvale-term: %s\n", note.toLocal8Bit().constData());
}

}  // namespace

int runProgram(int argc, char** argv, const ProgramSeams& seams) {
    TerminationSignals::blockInProcess();
    QApplication app(argc, argv);
    SingleInstance instance(AppContext::kAppTitle);
    const bool handedOver = instance.notifyRunning();
    reportNotes(instance);
    if (handedOver) return 0;
    if (seams.aboutToListen) seams.aboutToListen();
    instance.listen();
    reportNotes(instance);
    installLabelAccessibility();
    // No display name: Qt would append it to every window title.
    QApplication::setApplicationName(AppContext::kAppTitle);
    QApplication::setQuitOnLastWindowClosed(false);

    try {
        const ExecutableInfo exe = ExecutableInfo::current();
        LinuxSerialDevice serial;
        SteadyTicks ticks;
        QtPrompts desktopPrompts;
        Prompts& prompts = seams.prompts ? *seams.prompts : desktopPrompts;
        CanberraSound sound(CanberraSound::defaultSearchDirs(QFileInfo(exe.path).absolutePath()));
        AppContext context({serial, ticks, prompts, sound, exe});

        QtPortCandidates desktopPorts;
        TfrmMain frmMain(context);
        desktopPrompts.setParent(&frmMain);
        TfrmRem frmRem(context, &frmMain);
        TfrmSurvey frmSurvey(context, frmMain, &frmMain);
        frmMain.setPeerWindows(&frmRem, &frmSurvey);
        frmMain.setPortCandidates(seams.portCandidates ? seams.portCandidates : &desktopPorts);
        QObject::connect(&instance, &SingleInstance::activationRequested, &frmMain,
                         [&frmMain] { raise(frmMain); });
        QObject::connect(&frmMain, &TfrmMain::closed, &app, &QApplication::quit);
        TerminationSignals signalWatcher;
        // A termination signal closes the window as Quit does, even from inside a wait.
        QObject::connect(&signalWatcher, &TerminationSignals::terminationRequested, &frmMain,
                         [&frmMain](int) { frmMain.close(); });
        frmMain.show();
        if (seams.started) seams.started(frmMain);
        return QApplication::exec();
    } catch (const std::exception& e) {
        const QString text = QString::fromLocal8Bit(e.what());
        if (seams.prompts)
            seams.prompts->message(AppContext::kAppTitle, text, Prompts::Icon::Error);
        else
            QMessageBox::critical(nullptr, AppContext::kAppTitle, text);
        return 0;
    }
}
