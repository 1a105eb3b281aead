// SPDX-License-Identifier: MIT
// norvale-run: runs a test script against a kit without a display, for production lines and CI.
// It links the core and Lua only. The link settings come from the terminal's settings file,
// read and never written, unless an option gives them.
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <optional>
#include <variant>

#include "app/extcap.h"
#include "app/headless_console.h"
#include "app/headless_session.h"
#include "core/capture_convert.h"
#include "platform/prompts.h"
#include "platform/safe_file.h"
#include "platform/termination_signals.h"
#include "session/script_host.h"

namespace {

constexpr int kExitUsage = 2;

constexpr const char* kUsage =
    "usage: norvale-run SCRIPT.lua [options]\n"
    "Runs a Lua test script against an Orlin kit without a window.\n"
    "\n"
    "  --port NAME       the serial port: a device such as /dev/ttyUSB0, or a ser2net server\n"
    "                    as rfc2217://HOST:PORT or tcp://HOST:PORT, over TLS as\n"
    "                    rfc2217+tls://HOST:PORT?ca=FILE&cert=FILE&key=FILE (default: the\n"
    "                    terminal's settings)\n"
    "  --baud N          the line's speed (default: the terminal's settings)\n"
    "  --settings FILE   read the link settings from FILE instead of the terminal's file\n"
    "  --arg KEY=VALUE   args.KEY in the script; may be given many times\n"
    "  --junit FILE      write a JUnit XML report of the checks to FILE\n"
    "  --capture FILE    capture every unit received and frame sent to FILE (appended;\n"
    "                    FILE.pcapng is written for Wireshark)\n"
    "  --timeout S       stop the script after S seconds\n"
    "  --convert IN OUT  turn the text capture IN into the pcapng file OUT and exit\n"
    "  -h, --help        show this text\n"
    "  -v, --version     show the version\n"
    "\n"
    "Exit status: 0 every check passed, 1 a check failed, 2 a script error or a port that\n"
    "cannot be opened or goes away, 3 the --timeout passed.\n";

struct RunOptions {
    QString script;
    QString port;
    std::optional<int> baud;
    QString settings;
    ScriptHost::Args args;
    QString junit;
    QString capture;
    std::optional<double> timeoutS;
    QString convertIn;
    QString convertOut;
    bool help = false;
    bool version = false;
};

std::variant<RunOptions, QString> parseOptions(const QStringList& arguments) {
    RunOptions o;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a == QLatin1String("-h") || a == QLatin1String("--help")) {
            o.help = true;
            continue;
        }
        if (a == QLatin1String("-v") || a == QLatin1String("--version")) {
            o.version = true;
            continue;
        }
        if (!a.startsWith(QLatin1String("--"))) {
            if (!o.script.isEmpty()) return QStringLiteral("one script only: %1").arg(a);
            o.script = a;
            continue;
        }
        QString name = a;
        QString value;
        if (const qsizetype eq = a.indexOf(u'='); eq > 0) {
            name = a.left(eq);
            value = a.mid(eq + 1);
        } else if (i + 1 < arguments.size()) {
            value = arguments[++i];
        } else {
            return QStringLiteral("%1 needs a value").arg(a);
        }
        bool ok = true;
        if (name == QLatin1String("--convert")) {
            if (i + 1 >= arguments.size() || a.contains(u'=') ||
                arguments[i + 1].startsWith(QLatin1String("--")))
                return QStringLiteral("--convert needs IN and OUT");
            o.convertIn = value;
            o.convertOut = arguments[++i];
            continue;
        }
        if (name == QLatin1String("--port")) {
            o.port = value;
        } else if (name == QLatin1String("--baud")) {
            const int baud = value.toInt(&ok);
            if (!ok || baud <= 0)
                return QStringLiteral("--baud %1: expected a speed such as 115200").arg(value);
            o.baud = baud;
        } else if (name == QLatin1String("--settings")) {
            o.settings = value;
        } else if (name == QLatin1String("--arg")) {
            const qsizetype eq = value.indexOf(u'=');
            if (eq <= 0) return QStringLiteral("--arg %1: expected KEY=VALUE").arg(value);
            o.args.emplace_back(value.left(eq), value.mid(eq + 1));
        } else if (name == QLatin1String("--junit")) {
            o.junit = value;
        } else if (name == QLatin1String("--capture")) {
            o.capture = value;
        } else if (name == QLatin1String("--timeout")) {
            const double s = value.toDouble(&ok);
            if (!ok || !(s > 0))
                return QStringLiteral("--timeout %1: expected seconds above 0").arg(value);
            o.timeoutS = s;
        } else {
            return QStringLiteral("unknown option %1").arg(name);
        }
    }
    if (o.script.isEmpty() && !o.help && !o.version && o.convertIn.isEmpty())
        return QStringLiteral("no script given");
    return o;
}

int run(const RunOptions& options) {
    HeadlessSession session(options.settings);
    AppContext& ctx = session.ctx;
    StderrPrompts& prompts = session.prompts;
    ReceivePipeline& pipeline = session.pipeline;
    LinkSettings& link = session.link;
    if (!options.port.isEmpty()) link.portName = options.port;
    if (options.baud) link.baudRate = *options.baud;
    // A run that loses its line is over: waiting for the device to come back would only turn
    // the loss into a later timeout.
    link.reconnect = false;

    if (!options.capture.isEmpty()) {
        if (const auto error = ctx.capture.start(options.capture)) {
            say(stderr, QStringLiteral("norvale-run: the capture cannot start: %1: %2")
                            .arg(options.capture, *error));
            return kExitUsage;
        }
    }
    ctx.port.setReportOpenFailure(true);
    if (!ctx.port.open()) {
        say(stderr, QStringLiteral("norvale-run: the port %1 cannot be opened").arg(link.portName));
        return 2;
    }

    ScriptEnvironment env{ctx.port,
                          ctx.sender,
                          link,
                          ctx.settings.module,
                          [&ctx](const QString& path) { return ctx.capture.start(path); },
                          [&ctx] { ctx.capture.stop(); },
                          [&prompts] { return prompts.last; }};
    ScriptHost host(env);
    pipeline.setUnitTap([&host](std::span<const std::uint8_t> unit) { host.unitReceived(unit); });
    QObject::connect(&host, &ScriptHost::logged, [&ctx](const QString& text) {
        say(stdout, QStringLiteral("log   ") + text);
        ctx.capture.note(QStringLiteral("script: ") + text);
    });
    QObject::connect(&host, &ScriptHost::checked, [&ctx](const ScriptCheck& check) {
        QString line =
            (check.passed ? QStringLiteral("PASS  ") : QStringLiteral("FAIL  ")) + check.name;
        if (!check.detail.isEmpty()) line += QStringLiteral(": ") + check.detail;
        say(stdout, line);
        ctx.capture.note(QStringLiteral("script: ") + line);
    });
    QObject::connect(&host, &ScriptHost::finished, qApp, &QCoreApplication::quit,
                     Qt::QueuedConnection);

    TerminationSignals signalWatcher;
    // From the watcher's thread: a script busy in a loop stops at its next instruction...
    QObject::connect(
        &signalWatcher, &TerminationSignals::terminationRequested, &signalWatcher,
        [&host](int) { host.requestStop(); }, Qt::DirectConnection);
    // ...and one that waits, from the event loop.
    QObject::connect(
        &signalWatcher, &TerminationSignals::terminationRequested, &host, [&host](int signal) {
            host.stop(ScriptOutcome::Stopped, QStringLiteral("stopped by signal %1").arg(signal));
        });
    QTimer overall;
    overall.setSingleShot(true);
    if (options.timeoutS) {
        QObject::connect(&overall, &QTimer::timeout, &host, [&host, &options] {
            host.stop(ScriptOutcome::TimedOut,
                      QStringLiteral("the overall timeout of %1 s passed").arg(*options.timeoutS));
        });
        overall.start(static_cast<int>(*options.timeoutS * 1000));
    }

    host.start(options.script, options.args);
    if (host.running()) QCoreApplication::exec();
    overall.stop();
    pipeline.setUnitTap({});

    const ScriptResult& result = host.result();
    const QString summary = QStringLiteral("%1: %2, %3 checks, %4 failed, %5 s")
                                .arg(options.script, outcomeWord(result.outcome))
                                .arg(result.checks.size())
                                .arg(result.failedCount())
                                .arg(result.seconds, 0, 'f', 3);
    if (!result.message.isEmpty()) say(stderr, QStringLiteral("norvale-run: ") + result.message);
    say(stdout, summary);
    ctx.capture.note(QStringLiteral("script: ") + summary);
    ctx.port.close();
    ctx.capture.stop();
    int code = exitCodeFor(result);
    if (const auto error = ctx.capture.error()) {
        say(stderr, QStringLiteral("norvale-run: the capture failed: %1").arg(*error));
        code = std::max(code, 2);
    }
    if (!options.junit.isEmpty()) {
        const QByteArray report = junitReport(QFileInfo(options.script).completeBaseName(), result);
        QFile file(options.junit);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(report) != report.size()) {
            say(stderr, QStringLiteral("norvale-run: the report cannot be written: %1: %2")
                            .arg(options.junit, file.errorString()));
            code = std::max(code, 2);
        }
    }
    return code;
}

}  // namespace

// --convert: a text capture read whole, the pcapng written whole beside OUT and renamed over it.
int convert(const RunOptions& options) {
    const FileRead in = readRegularFile(options.convertIn);
    if (in.status != ReadStatus::Read) {
        say(stderr, QStringLiteral("norvale-run: %1: %2")
                        .arg(options.convertIn, in.status == ReadStatus::Missing
                                                    ? QStringLiteral("no such file")
                                                    : in.reason));
        return kExitUsage;
    }
    ConvertCounts counts;
    const QByteArray out =
        convertTextCapture(in.bytes, QStringLiteral("norvale-run " NORVALE_VERSION),
                           QFileInfo(options.convertIn).fileName(), &counts);
    if (const FileOutcome written = replaceFileContents(options.convertOut, out); !written) {
        say(stderr, QStringLiteral("norvale-run: %1: %2").arg(options.convertOut, written.reason));
        return kExitUsage;
    }
    say(stdout, QStringLiteral("%1: %2 received, %3 sent, %4 notes, %5 lines kept as comments only")
                    .arg(options.convertOut)
                    .arg(counts.received)
                    .arg(counts.sent)
                    .arg(counts.notes)
                    .arg(counts.unreadable));
    return 0;
}

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    TerminationSignals::blockInProcess();
    QCoreApplication app(argc, argv);
    if (isExtcapCall(QCoreApplication::arguments()))
        return runExtcap(QCoreApplication::arguments());
    const auto parsed = parseOptions(QCoreApplication::arguments());
    if (const auto* error = std::get_if<QString>(&parsed)) {
        say(stderr, QStringLiteral("norvale-run: ") + *error);
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    const RunOptions& options = std::get<RunOptions>(parsed);
    if (options.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (options.version) {
        std::printf("norvale-run %s\n", NORVALE_VERSION);
        return 0;
    }
    if (!options.convertIn.isEmpty()) return convert(options);
    return run(options);
}
