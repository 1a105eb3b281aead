// SPDX-License-Identifier: MIT
// Runs the real terminal against orlin-sim's transmitters for a long time and samples the
// terminal's memory and CPU every second: a leak or a slow build-up shows as RSS growth after
// the first minute.
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include <unistd.h>

namespace {

struct Sample {
    long rssKb = 0;
    long long cpuTicks = 0;
};

Sample sample(qint64 pid) {
    Sample s;
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) s.rssKb = std::stol(line.substr(6));
    }
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::getline(stat, line);
    const auto close = line.rfind(')');
    if (close == std::string::npos) return s;
    std::istringstream rest(line.substr(close + 2));
    std::string field;
    long long utime = 0;
    long long stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14) utime = std::stoll(field);
        if (i == 15) stime = std::stoll(field);
    }
    s.cpuTicks = utime + stime;
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    double seconds = 60;
    QString rate = QStringLiteral("4000");
    QString transmitters = QStringLiteral("16");
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--seconds" && i + 1 < argc) {
            seconds = std::stod(argv[++i]);
        } else if (a == "--rate" && i + 1 < argc) {
            rate = QString::fromLocal8Bit(argv[++i]);
        } else if (a == "--transmitters" && i + 1 < argc) {
            transmitters = QString::fromLocal8Bit(argv[++i]);
        } else {
            std::printf("usage: soak [--seconds N] [--rate FRAMES_PER_S] [--transmitters N]\n");
            return a == "--help" ? 0 : 2;
        }
    }

    QTemporaryDir dir;
    QProcess sim;
    sim.start(QStringLiteral(ORLIN_SIM_BIN), {QStringLiteral("--transmitters"), transmitters,
                                              QStringLiteral("--rate"), rate, QStringLiteral("--random"),
                                              QStringLiteral("--seed"), QStringLiteral("1")});
    if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000)) {
        std::fprintf(stderr, "soak: orlin-sim did not start\n");
        return 1;
    }
    const QByteArray pty = sim.readLine().trimmed();

    const QString exe = dir.filePath(QStringLiteral("norvale-term"));
    QFile::copy(QStringLiteral(NORVALE_TERM_BIN), exe);
    QFile ini(dir.filePath(QStringLiteral("norvale-term.ini")));
    if (!ini.open(QIODevice::WriteOnly)) return 1;
    ini.write("[COMPORT]\r\nPortName=" + pty + "\r\n");
    ini.close();
    QProcess term;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!env.contains(QStringLiteral("DISPLAY")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("TMPDIR"), dir.path());
    std::printf("platform: %s\n", env.contains(QStringLiteral("QT_QPA_PLATFORM"))
                                     ? qPrintable(env.value(QStringLiteral("QT_QPA_PLATFORM")))
                                     : "xcb (DISPLAY is set)");
    term.setProcessEnvironment(env);
    term.setProcessChannelMode(QProcess::ForwardedChannels);
    term.start(exe, {});
    if (!term.waitForStarted(5000)) {
        std::fprintf(stderr, "soak: the terminal did not start\n");
        return 1;
    }
    const qint64 pid = term.processId();
    const long ticksPerSecond = sysconf(_SC_CLK_TCK);
    const int total = static_cast<int>(seconds);
    Sample first = sample(pid);
    long rssAtMinute = 0;
    long maxAfterMinute = 0;
    long minAfterMinute = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int s = 1; s <= total; ++s) {
        std::this_thread::sleep_until(start + std::chrono::seconds(s));
        if (term.state() != QProcess::Running) {
            std::fprintf(stderr, "soak: the terminal ended after %d s\n", s);
            return 1;
        }
        const Sample now = sample(pid);
        if (s == std::min(60, total)) rssAtMinute = now.rssKb;
        if (s >= 60 || total < 60) {
            maxAfterMinute = std::max(maxAfterMinute, now.rssKb);
            minAfterMinute = minAfterMinute == 0 ? now.rssKb : std::min(minAfterMinute, now.rssKb);
        }
        if (s % 60 == 0 || s == total) {
            const double cpu = 100.0 * static_cast<double>(now.cpuTicks - first.cpuTicks) /
                               static_cast<double>(ticksPerSecond) / s;
            std::printf("%5d s: RSS %.1f MB, mean CPU %.1f%% of a core\n", s,
                        static_cast<double>(now.rssKb) / 1024.0, cpu);
            std::fflush(stdout);
        }
    }
    term.terminate();
    term.waitForFinished(5000);
    sim.terminate();
    if (!sim.waitForFinished(5000)) {
        sim.kill();
        sim.waitForFinished(5000);
    }
    const double growth = static_cast<double>(maxAfterMinute - rssAtMinute) / 1024.0;
    std::printf("soak: %d s at %s frames/s from %s transmitters; RSS after the first minute "
                "%.1f MB, highest %.1f MB: growth %.1f MB (bound 5 MB: %s)\n",
                total, qPrintable(rate), qPrintable(transmitters),
                static_cast<double>(rssAtMinute) / 1024.0,
                static_cast<double>(maxAfterMinute) / 1024.0, growth, growth <= 5.0 ? "met" : "MISSED");
    return 0;
}
