// SPDX-License-Identifier: MIT
#include "app/extcap.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <optional>

#include "app/headless_console.h"
#include "app/headless_session.h"
#include "core/pcapng_blocks.h"
#include "platform/executable_info.h"
#include "platform/qt_port_candidates.h"
#include "platform/settings_file.h"
#include "platform/termination_signals.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitBadCall = 2;
const QString kPrefix = QStringLiteral("orlin-");

struct ExtcapCall {
    bool interfaces = false;
    bool dlts = false;
    bool config = false;
    bool capture = false;
    QString interfaceName;
    QString fifo;
    QString settings;
    std::optional<int> baud;
};

std::optional<ExtcapCall> parse(const QStringList& arguments, QString* error) {
    ExtcapCall c;
    for (int i = 1; i < arguments.size(); ++i) {
        QString name = arguments[i];
        std::optional<QString> value;
        if (const qsizetype eq = name.indexOf(u'='); eq > 0) {
            value = name.mid(eq + 1);
            name = name.left(eq);
        }
        const auto take = [&]() -> std::optional<QString> {
            if (value) return value;
            if (i + 1 < arguments.size()) return arguments[++i];
            *error = QStringLiteral("%1 needs a value").arg(name);
            return std::nullopt;
        };
        if (name == QLatin1String("--extcap-interfaces")) {
            c.interfaces = true;
        } else if (name == QLatin1String("--extcap-dlts")) {
            c.dlts = true;
        } else if (name == QLatin1String("--extcap-config")) {
            c.config = true;
        } else if (name == QLatin1String("--capture")) {
            c.capture = true;
        } else if (name == QLatin1String("--extcap-version")) {
            // Wireshark's own version, told with or without a value; nothing here depends on it.
            if (!value && i + 1 < arguments.size() && !arguments[i + 1].startsWith(u'-')) ++i;
        } else if (name == QLatin1String("--extcap-capture-filter")) {
            // Every unit is wanted: Wireshark's display filters do the choosing.
            if (!take()) return std::nullopt;
        } else {
            const std::optional<QString> v = take();
            if (!v) return std::nullopt;
            if (name == QLatin1String("--extcap-interface")) {
                c.interfaceName = *v;
            } else if (name == QLatin1String("--fifo")) {
                c.fifo = *v;
            } else if (name == QLatin1String("--settings")) {
                c.settings = *v;
            } else if (name == QLatin1String("--baud")) {
                bool ok = false;
                const int baud = v->toInt(&ok);
                if (!ok || baud <= 0) {
                    *error = QStringLiteral("--baud %1: expected a speed such as 115200").arg(*v);
                    return std::nullopt;
                }
                c.baud = baud;
            } else {
                *error = QStringLiteral("unknown option %1").arg(name);
                return std::nullopt;
            }
        }
    }
    return c;
}

QString settingsPathFor(const ExtcapCall& c, const ExecutableInfo& exe) {
    return c.settings.isEmpty() ? terminalSettingsPath(exe) : c.settings;
}

// Extcap's own quoting: braces end a field, so they may not appear inside one.
QString field(QString text) { return text.replace(u'{', u'(').replace(u'}', u')'); }

int listInterfaces(const ExtcapCall& c) {
    const ExecutableInfo exe = ExecutableInfo::current();
    QStringList ports;
    // The terminal's port, once it has one of its own: a first start's default names none here.
    if (const QString path = settingsPathFor(c, exe); QFileInfo::exists(path)) {
        const QString configured = loadSettings(path).link.portName;
        if (!configured.isEmpty()) ports << configured;
    }
    for (const PortCandidate& p : QtPortCandidates().ports()) {
        if (!p.alias && !ports.contains(p.name)) ports << p.name;
    }
    say(stdout,
        QStringLiteral("extcap {version=%1}{help=man:norvale-run(1)}").arg(NORVALE_VERSION));
    for (const QString& port : ports) {
        say(stdout, QStringLiteral("interface {value=%1}{display=Orlin kit on %2}")
                        .arg(field(extcapInterfaceFor(port)), field(port)));
    }
    return 0;
}

int listLinkTypes() {
    say(stdout, QStringLiteral("dlt {number=%1}{name=USER0}{display=Orlin kit frames}")
                    .arg(pcapng::kLinkTypeUser0));
    return 0;
}

int listOptions(const ExtcapCall& c) {
    const ExecutableInfo exe = ExecutableInfo::current();
    const int baud = loadSettings(settingsPathFor(c, exe)).link.baudRate;
    say(stdout, QStringLiteral("arg {number=0}{call=--baud}{display=Baud rate}{type=integer}"
                               "{range=50,4000000}{default=%1}"
                               "{tooltip=The line's speed; the terminal's setting by default}")
                    .arg(baud));
    say(stdout, QStringLiteral("arg {number=1}{call=--settings}{display=Settings file}"
                               "{type=fileselect}{mustexist=true}"
                               "{tooltip=Link settings from this file instead of the terminal's}"));
    return 0;
}

int capture(const ExtcapCall& c) {
    const QString port = extcapPortOf(c.interfaceName);
    if (port.isEmpty() || c.fifo.isEmpty()) {
        say(stderr, QStringLiteral("norvale-run: --capture needs --extcap-interface orlin-PORT "
                                   "and --fifo PATH"));
        return kExitBadCall;
    }
    HeadlessSession session(c.settings);
    AppContext& ctx = session.ctx;
    session.link.portName = port;
    if (c.baud) session.link.baudRate = *c.baud;
    // Wireshark has the FIFO open for reading by now; the capture runs before the port opens,
    // so that nothing the module sends first is lost.
    const int fd = ::open(c.fifo.toLocal8Bit().constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        say(stderr, QStringLiteral("norvale-run: %1: %2")
                        .arg(c.fifo, QString::fromLocal8Bit(std::strerror(errno))));
        return kExitFailed;
    }
    ctx.capture.startPcapngStream(fd, c.fifo);
    ctx.port.setReportOpenFailure(true);
    if (!ctx.port.open()) {
        ctx.capture.stop();
        return kExitFailed;
    }

    TerminationSignals signalWatcher;
    QObject::connect(&signalWatcher, &TerminationSignals::terminationRequested, qApp,
                     &QCoreApplication::quit);
    // Wireshark gone (the FIFO takes no more) or the line gone for good: the capture is over.
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, qApp, [&ctx] {
        if (ctx.capture.error() || (!ctx.port.state().open && !ctx.port.isWaiting()))
            QCoreApplication::quit();
    });
    watch.start(100);
    QCoreApplication::exec();
    watch.stop();
    ctx.port.close();
    ctx.capture.stop();
    return 0;
}

}  // namespace

bool isExtcapCall(const QStringList& arguments) {
    for (const QString& a : arguments) {
        if (a.startsWith(QLatin1String("--extcap-"))) return true;
    }
    return false;
}

QString extcapInterfaceFor(const QString& port) { return kPrefix + port; }

QString extcapPortOf(const QString& interfaceName) {
    if (!interfaceName.startsWith(kPrefix)) return {};
    return interfaceName.mid(kPrefix.size());
}

int runExtcap(const QStringList& arguments) {
    QString error;
    const std::optional<ExtcapCall> c = parse(arguments, &error);
    if (!c) {
        say(stderr, QStringLiteral("norvale-run: ") + error);
        return kExitBadCall;
    }
    if (c->interfaces) return listInterfaces(*c);
    if (c->dlts) return listLinkTypes();
    if (c->config) return listOptions(*c);
    if (c->capture) return capture(*c);
    say(stderr, QStringLiteral("norvale-run: an extcap call needs --extcap-interfaces, "
                               "--extcap-dlts, --extcap-config or --capture"));
    return kExitBadCall;
}
