// SPDX-License-Identifier: MIT
// norvale-term with the desktop's port list and message boxes replaced, for the process tests:
// the ports named on the command line are the only ones present, every question is answered
// Yes and every message is printed to stdout ("message: caption: text"). With --search it
// opens the port dialog at start-up and starts the port search; with --spawn-child it forks
// and execs `sleep 30` and prints "child PID"; with --hang-ui it prints "hanging" and then
// blocks the UI thread for a minute; with --slow-listen it waits 300 ms between looking for a
// running instance and listening; with --print-title it prints "title: TEXT" at start and at
// every change of the main window's title.
#include <unistd.h>

#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <vector>

#include "app/program.h"
#include "com/frmCom.h"
#include "main/frmMain.h"
#include "platform/port_candidates.h"
#include "platform/prompts.h"

namespace {

class NamedPorts final : public PortCandidates {
public:
    std::vector<PortCandidate> list;
    [[nodiscard]] std::vector<PortCandidate> ports() const override { return list; }
};

class AnsweringPrompts final : public Prompts {
public:
    void message(const QString& caption, const QString& text, Icon /*icon*/,
                 const QString& /*detail*/) override {
        std::printf("message: %s: %s\n", caption.toUtf8().constData(), text.toUtf8().constData());
        std::fflush(stdout);
    }
    bool ask(const QString& /*caption*/, const QString& /*text*/, Icon /*icon*/) override {
        return true;
    }
    std::optional<QString> openFileName(const FileChoice& /*choice*/) override { return {}; }
    std::optional<QString> saveFileName(const FileChoice& /*choice*/) override { return {}; }
};

// Clicks the search button once the port dialog is up; the dialog runs its own event loop.
void startSearchWhenDialogShows(TfrmMain& window) {
    auto* poll = new QTimer(&window);
    QObject::connect(poll, &QTimer::timeout, &window, [&window, poll] {
        auto* dialog = window.findChild<TfrmCom*>();
        if (!dialog || !dialog->isVisible()) return;
        poll->stop();
        poll->deleteLater();
        dialog->btnPort->click();
    });
    poll->start(20);
}

// A child as a library would start one, with plain fork() and exec.
void spawnChild() {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execlp("sleep", "sleep", "30", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    std::printf("child %d\n", static_cast<int>(pid));
    std::fflush(stdout);
}

void hangUi() {
    std::printf("hanging\n");
    std::fflush(stdout);
    ::sleep(60);
}

}  // namespace

int main(int argc, char** argv) {
    NamedPorts ports;
    AnsweringPrompts prompts;
    bool search = false;
    bool child = false;
    bool hang = false;
    bool slowListen = false;
    bool printTitle = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--search") == 0)
            search = true;
        else if (std::strcmp(argv[i], "--spawn-child") == 0)
            child = true;
        else if (std::strcmp(argv[i], "--hang-ui") == 0)
            hang = true;
        else if (std::strcmp(argv[i], "--slow-listen") == 0)
            slowListen = true;
        else if (std::strcmp(argv[i], "--print-title") == 0)
            printTitle = true;
        else
            ports.list.push_back({QString::fromLocal8Bit(argv[i]), {}, {}, false});
    }
    int qtArgc = 1;
    ProgramSeams seams{&ports, &prompts, {}, {}};
    if (slowListen) seams.aboutToListen = [] { QThread::msleep(300); };
    seams.started = [search, child, hang, printTitle](TfrmMain& window) {
        if (printTitle) {
            const auto print = [](const QString& title) {
                std::printf("title: %s\n", title.toUtf8().constData());
                std::fflush(stdout);
            };
            print(window.windowTitle());
            QObject::connect(&window, &QWidget::windowTitleChanged, &window, print);
        }
        if (search) {
            startSearchWhenDialogShows(window);
            QTimer::singleShot(0, &window, [&window] { window.mmComPortClick(); });
        }
        if (child) spawnChild();
        if (hang) QTimer::singleShot(0, &window, &hangUi);
    };
    return runProgram(qtArgc, argv, seams);
}
