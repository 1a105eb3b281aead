// SPDX-License-Identifier: MIT
// Measures what the terminal costs while it waits: the real program, its port open on a pty
// whose far end stays silent. Prints the CPU share over the run, then how long closing an
// idle port takes.
#include "session/event_wait.h"
#include "session/port_driver.h"
#include "platform/linux_serial_device.h"
#include "platform/prompts.h"
#include "quiet_prompts.h"
#include "platform/pty_pair.h"
#include "platform/steady_ticks.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

namespace {

struct Options {
    double seconds = 10;
    QString term = QStringLiteral(NORVALE_TERM_BIN);
};

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--seconds" && i + 1 < argc) {
            o.seconds = std::stod(argv[++i]);
        } else if (a == "--term" && i + 1 < argc) {
            o.term = QString::fromLocal8Bit(argv[++i]);
        } else {
            std::printf("usage: idle_cpu [--seconds N] [--term PATH]\n");
            std::exit(a == "--help" ? 0 : 2);
        }
    }
    return o;
}

// utime + stime of a process, in clock ticks.
long long cpuTicks(qint64 pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(f, line);
    const auto close = line.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream rest(line.substr(close + 2));
    std::string field;
    long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14) utime = std::stoll(field);
        if (i == 15) stime = std::stoll(field);
    }
    return utime + stime;
}

bool holdsPath(qint64 pid, const std::string& path) {
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QString& fd : fds.entryList(QDir::Files | QDir::System)) {
        if (QFile::symLinkTarget(fds.filePath(fd)).toStdString() == path) return true;
    }
    return false;
}

int measureTerminal(const Options& o, PtyPair& pty) {
    QTemporaryDir dir;
    const QString exe = dir.filePath(QStringLiteral("norvale-term"));
    if (!QFile::copy(o.term, exe)) {
        std::fprintf(stderr, "idle_cpu: cannot copy %s\n", qPrintable(o.term));
        return 1;
    }
    QFile ini(dir.filePath(QStringLiteral("norvale-term.ini")));
    if (!ini.open(QIODevice::WriteOnly)) return 1;
    ini.write("[COMPORT]\r\nPortName=" + QByteArray::fromStdString(pty.slavePath()) + "\r\n");
    ini.close();

    QProcess term;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!env.contains(QStringLiteral("DISPLAY"))) env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("TMPDIR"), dir.path());  // its own single-instance socket
    term.setProcessEnvironment(env);
    term.start(exe, {});
    if (!term.waitForStarted(5000)) {
        std::fprintf(stderr, "idle_cpu: the terminal did not start\n");
        return 1;
    }
    const qint64 pid = term.processId();
    bool open = false;
    for (int i = 0; i < 100 && !open; ++i) {
        QThread::msleep(50);
        open = holdsPath(pid, pty.slavePath());
    }
    if (!open) {
        std::fprintf(stderr, "idle_cpu: the terminal did not open %s\n", pty.slavePath().c_str());
        term.kill();
        term.waitForFinished();
        return 1;
    }
    QThread::msleep(500);  // start-up work is not idling
    const long long before = cpuTicks(pid);
    const auto start = std::chrono::steady_clock::now();
    QThread::msleep(static_cast<unsigned long>(o.seconds * 1000));
    const long long after = cpuTicks(pid);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const bool stillOpen = holdsPath(pid, pty.slavePath());
    term.kill();
    term.waitForFinished();
    const double cpu = static_cast<double>(after - before) / static_cast<double>(sysconf(_SC_CLK_TCK));
    const double share = 100.0 * cpu / wall;
    std::printf("idle CPU: %.2f%% of a core over %.1f s (port open: %s; target at most 1%%: %s)\n",
                share, wall, stillOpen ? "yes" : "no", share <= 1.0 ? "met" : "MISSED");
    return stillOpen ? 0 : 1;
}

int measureClose(PtyPair& pty) {
    LinkSettings link;
    link.portName = QString::fromStdString(pty.slavePath());
    LinuxSerialDevice device;
    SteadyTicks ticks;
    QuietPrompts prompts;
    PortDriver driver(link, device, ticks, prompts, QStringLiteral("idle_cpu"));
    double worst = 0;
    for (int i = 0; i < 20; ++i) {
        if (!driver.open()) return 1;
        pumpFor(20, ticks);
        const auto start = std::chrono::steady_clock::now();
        driver.close();
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        worst = std::max(worst, ms);
    }
    std::printf("close of an idle port: at most %.2f ms over 20 closes (target at most 100 ms: %s)\n",
                worst, worst <= 100 ? "met" : "MISSED");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const Options o = parse(argc, argv);
    std::string error;
    auto pty = PtyPair::create(&error);
    if (!pty || !pty->holdSlave(&error)) {
        std::fprintf(stderr, "idle_cpu: %s\n", error.c_str());
        return 1;
    }
    if (const int rc = measureTerminal(o, *pty)) return rc;
    return measureClose(*pty);
}
