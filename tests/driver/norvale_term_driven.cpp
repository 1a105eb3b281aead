// SPDX-License-Identifier: MIT
// norvale-term with the desktop's port list and message boxes replaced, for the process tests:
// the ports named on the command line are the only ones present, every question is answered
// Yes and every message is printed to stdout ("message: caption: text"). With --search it
// opens the port dialog at start-up and starts the port search; with --spawn-child it forks
// and execs `sleep 30` and prints "child PID"; with --hang-ui it prints "hanging" and then
// blocks the UI thread for a minute; with --slow-listen it waits 300 ms between looking for a
// running instance and listening; with --print-title it prints "title: TEXT" at start and at
// every change of the main window's title; with --print-shown it prints "shown: CLASS MS" when a
// window first becomes visible on the screen, MS counted from the start of main(); with
// --desktop-prompts the desktop's message boxes are used instead; with --quit it quits at once,
// as the menu's Quit.
#include <unistd.h>

#include <QApplication>
#include <QPushButton>
#include <QSet>
#include <QThread>
#include <QTimer>
#include <QWindow>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "app/program.h"
#include "windows/frmCom.h"
#include "windows/frmMain.h"
#include "core/port_candidates.h"
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

// Prints each top-level window once, as soon as it is exposed: mapped on a display, shown on the
// offscreen platform.
class ShownPrinter final : public QObject {
public:
    explicit ShownPrinter(std::chrono::steady_clock::time_point start, QObject* parent)
        : QObject(parent), m_start(start) {}

    void printIfExposed(QWidget* w) {
        if (w->windowHandle() == nullptr || !w->windowHandle()->isExposed() || m_seen.contains(w))
            return;
        m_seen.insert(w);
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - m_start);
        std::printf("shown: %s %lld\n", w->metaObject()->className(),
                    static_cast<long long>(ms.count()));
        std::fflush(stdout);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        // The window knows itself exposed before the event reaches it.
        if (event->type() == QEvent::Expose && qobject_cast<QWindow*>(watched) != nullptr) {
            for (QWidget* w : QApplication::topLevelWidgets()) printIfExposed(w);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::chrono::steady_clock::time_point m_start;
    QSet<QWidget*> m_seen;
};

void hangUi() {
    std::printf("hanging\n");
    std::fflush(stdout);
    ::sleep(60);
}

}  // namespace

int main(int argc, char** argv) {
    const auto start = std::chrono::steady_clock::now();
    NamedPorts ports;
    AnsweringPrompts prompts;
    bool search = false;
    bool child = false;
    bool hang = false;
    bool slowListen = false;
    bool printTitle = false;
    bool printShown = false;
    bool desktopPrompts = false;
    bool quit = false;
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
        else if (std::strcmp(argv[i], "--print-shown") == 0)
            printShown = true;
        else if (std::strcmp(argv[i], "--desktop-prompts") == 0)
            desktopPrompts = true;
        else if (std::strcmp(argv[i], "--quit") == 0)
            quit = true;
        else
            ports.list.push_back({QString::fromLocal8Bit(argv[i]), {}, {}, false});
    }
    int qtArgc = 1;
    ProgramSeams seams{&ports, desktopPrompts ? nullptr : &prompts, {}, {}};
    if (slowListen) seams.aboutToListen = [] { QThread::msleep(300); };
    seams.started = [=](TfrmMain& window) {
        if (printShown) {
            auto* printer = new ShownPrinter(start, &window);
            qApp->installEventFilter(printer);
            printer->printIfExposed(&window);
        }
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
        if (quit) window.mmQuit->trigger();
    };
    return runProgram(qtArgc, argv, seams);
}
