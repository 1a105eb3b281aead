// SPDX-License-Identifier: MIT
#include "app/program.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <csignal>
#include <cstdio>
#include <exception>

#include "app/command_line.h"
#include "core/port_candidates.h"
#include "platform/canberra_sound.h"
#include "platform/dispatching_serial_device.h"
#include "platform/executable_info.h"
#include "platform/qt_port_candidates.h"
#include "platform/single_instance.h"
#include "platform/steady_ticks.h"
#include "platform/termination_signals.h"
#include "session/app_context.h"
#include "session/event_wait.h"
#include "ui/qt_accessibility.h"
#include "ui/qt_prompts.h"
#include "windows/frmMain.h"
#include "windows/frmRem.h"
#include "windows/frmSurvey.h"
#include "windows/script_window.h"

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

bool asksForHelpOrVersion(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const QByteArrayView arg(argv[i]);
        if (arg == "--help" || arg == "-h" || arg == "--version" || arg == "-v") return true;
    }
    return false;
}

int printAndEnd(const CommandLine& commandLine) {
    std::fputs(qPrintable(*commandLine.text), commandLine.exitCode == 0 ? stdout : stderr);
    return commandLine.exitCode;
}

// The single-instance rule's detours, so that a terminal that starts without it says why.
void reportNotes(SingleInstance& instance) {
    for (const QString& note : instance.takeNotes())
        std::fprintf(stderr, "norvale-term: %s\n", note.toLocal8Bit().constData());
}

}  // namespace

int runProgram(int argc, char** argv, const ProgramSeams& seams) {
    // A reader that goes away mid-write is a write error to report, not a reason to die
    // with the settings unsaved.
    std::signal(SIGPIPE, SIG_IGN);
    TerminationSignals::blockInProcess();
    if (asksForHelpOrVersion(argc, argv)) {
        // Answered without a display: a core application is enough to word them.
        QCoreApplication core(argc, argv);
        const CommandLine commandLine = parseCommandLine(QCoreApplication::arguments());
        if (commandLine.text) return printAndEnd(commandLine);
    }
    QApplication app(argc, argv);
    const CommandLine commandLine = parseCommandLine(QApplication::arguments());
    if (commandLine.text) return printAndEnd(commandLine);
    SingleInstance instance(AppContext::kAppTitle);
    const bool handedOver = instance.notifyRunning(1000, commandLine.options.engineering
                                                             ? QByteArray("raise engineering")
                                                             : QByteArray("raise"));
    reportNotes(instance);
    if (handedOver) return 0;
    if (seams.aboutToListen) seams.aboutToListen();
    instance.listen();
    reportNotes(instance);
    installAccessibility();
    // No display name: Qt would append it to every window title.
    QApplication::setApplicationName(AppContext::kAppTitle);
    QApplication::setQuitOnLastWindowClosed(false);

    try {
        const ExecutableInfo exe = ExecutableInfo::current();
        SteadyTicks ticks;
        DispatchingSerialDevice serial;
        // Connecting to a network port waits as the other waits do, with the window alive.
        serial.network().setWait([&ticks](const std::function<bool()>& done, std::uint32_t ms) {
            return pumpUntil(done, ticks, ms);
        });
        QtPrompts desktopPrompts;
        Prompts& prompts = seams.prompts ? *seams.prompts : desktopPrompts;
        CanberraSound sound(CanberraSound::defaultSearchDirs(QFileInfo(exe.path).absolutePath()));
        AppContext context({serial, ticks, prompts, sound, exe});
        QtPortCandidates desktopPorts;
        const PortCandidates& ports = seams.portCandidates ? *seams.portCandidates : desktopPorts;
        context.firstStartPortName = [&ports] { return soleAdapterName(ports.ports()); };

        TfrmMain frmMain(context);
        desktopPrompts.setParent(&frmMain);
        TfrmRem frmRem(context, &frmMain);
        TfrmSurvey frmSurvey(context, frmMain, &frmMain);
        frmMain.setPeerWindows(&frmRem, &frmSurvey);
        frmMain.setPortCandidates(&ports);
        ScriptWindow scripts(context, frmMain);
        if (commandLine.options.engineering) frmMain.setEngineeringMode();
        if (const QString& path = commandLine.options.capture; !path.isEmpty()) {
            // Not worth stopping the program for: the terminal is useful without it.
            if (const std::optional<QString> error = frmMain.startCapture(path))
                std::fprintf(stderr, "norvale-term: the capture could not start: %s: %s\n",
                             path.toLocal8Bit().constData(), error->toLocal8Bit().constData());
        }
        QObject::connect(&instance, &SingleInstance::activationRequested, &frmMain,
                         [&frmMain] { raise(frmMain); });
        QObject::connect(&instance, &SingleInstance::engineeringRequested, &frmMain,
                         [&frmMain] { frmMain.setEngineeringMode(); });
        QObject::connect(&frmMain, &TfrmMain::closed, &app, &QApplication::quit);
        TerminationSignals signalWatcher;
        // A termination signal closes the window as Quit does, even from inside a wait, but
        // without a box. A close already under way may be waiting on Quit's box about the
        // settings: leaving every event loop, that box's too, ends the program all the same.
        QObject::connect(&signalWatcher, &TerminationSignals::terminationRequested, &frmMain,
                         [&frmMain](int) {
                             frmMain.closeUnattended();
                             QApplication::exit(0);
                         });
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
