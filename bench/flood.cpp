// SPDX-License-Identifier: MIT
// Floods the terminal's real receive path (pty, receive thread, poll, framing, rendering and
// the real monitor, drawn on the display when there is one) and prints throughput, CPU and
// memory, whether every unit that was sent came out the other end exactly once, how long a
// click on Monitor Clear waits during a flood, and how long a lone frame takes from its last
// byte at the pty to its line in the monitor and on screen.
#include <poll.h>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QFile>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "accessibility_bus.h"
#include "core/frame_format.h"
#include "peer_terminals.h"
#include "platform/dispatching_serial_device.h"
#include "platform/prompts.h"
#include "platform/pty_pair.h"
#include "platform/sound.h"
#include "platform/steady_ticks.h"
#include "quiet_prompts.h"
#include "session/app_context.h"
#include "session/event_wait.h"
#include "session/receive_pipeline.h"
#include "support/ser2net_server.h"
#include "support/test_certificates.h"
#include "windows/frmMain.h"
#include "windows/script_window.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    double megabytes = 20;
    double pacedSeconds = 5;
    double pacedRate = 300'000;  // bytes per second: a 3-Mbaud USB adapter's line rate
    std::string only;
    int compare = 0;  // rounds of the key flood plain and with each extra
    int peers = 0;    // rounds of the key flood beside picocom and CuteCom
    std::string bus;  // the accessibility bus: down, up or both; empty: as the display allows
    double compareRate = 4e6;  // bytes per second in those rounds; 0: as fast as taken
};

// What runs beside the monitor during a flood.
enum class Extra { None, Capture, Pcapng, Inspector, ScriptIdle, ScriptExpect };
constexpr const char* kExtraNames[] = {"plain",     "capture", "pcapng",
                                       "inspector", "script",  "expect"};

// The accessibility bus's processes when this run has one (a child run with the bus up).
std::vector<pid_t>& busSessions() {
    static std::vector<pid_t> sessions = [] {
        std::vector<pid_t> out;
        for (const QString& s :
             qEnvironmentVariable("NORVALE_BENCH_BUS_SESSIONS").split(u',', Qt::SkipEmptyParts))
            out.push_back(s.toInt());
        return out;
    }();
    return sessions;
}

struct Load {
    QByteArray chunk;   // repeated until the total is reached
    int unitsPerChunk;  // 0: not accountable (random bytes)
    const char* delimiter;
};

Load keyFrames() {
    QByteArray chunk;
    for (int i = 0; i < 256; ++i) {
        QByteArray id(4, '\0');
        id[3] = static_cast<char>(i);
        const QByteArray payload =
            keyPayload(QByteArray::fromHex("83410000"), static_cast<std::uint8_t>(1 + i % 70));
        chunk += frameHeader(0x13, static_cast<std::uint8_t>(i), QByteArray(4, char(0xFF)), id,
                             static_cast<int>(payload.size())) +
                 payload;
    }
    return {chunk, 256, "無し"};
}

Load randomBytes() {
    std::mt19937 rng(42);
    QByteArray chunk(64 * 1024, '\0');
    for (char& c : chunk) c = static_cast<char>(rng());
    return {chunk, 0, "無し"};
}

Load textLines() {
    QByteArray chunk;
    for (int i = 0; i < 100; ++i)
        chunk += QByteArray("line ") + QByteArray::number(i).rightJustified(4, '0') +
                 " of a text stream from the module\r";
    return {chunk, 100, "CR"};
}

struct Result {
    double worstLatencyMs = 0;  // how late a 100 ms UI timer fired: what a click would wait
    double seconds = 0;
    std::uint64_t sentBytes = 0;
    std::uint64_t sentUnits = 0;
    ReceivePipeline::Stats shown;
    double cpuSeconds = 0;
    std::vector<double> clickMs;  // from a click's press to Monitor Clear's handler
    std::uint64_t capturedUnits = 0;
    std::uint64_t capturedBytes = 0;
    double busCpuSeconds = 0;   // the accessibility bus's processes, when it is up
    double mainCpuSeconds = 0;  // the window's thread alone: what bounds the rate
};

// Counts the received lines of a capture file and the bytes they render.
void countCapture(const QString& path, Result& r) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine();
        const int mark = line.indexOf(" => ");
        if (mark < 0) continue;
        ++r.capturedUnits;
        r.capturedBytes += static_cast<std::uint64_t>(line.mid(mark + 4).count('h'));
    }
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const auto i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

double msBetween(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

// Lets the loop know that the monitor has been drawn.
// Counts paints per widget while NORVALE_BENCH_PAINTS is set: which parts of the window a flood
// draws again.
class PaintCount final : public QObject {
public:
    std::map<QString, int> counts;
    bool eventFilter(QObject* o, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++counts[QString::fromLatin1(o->metaObject()->className()) + u' ' + o->objectName()];
        return false;
    }
    ~PaintCount() override {
        for (const auto& [k, v] : counts) std::printf("paints %6d %s\n", v, qPrintable(k));
    }
};

class PaintWatch final : public QObject {
public:
    Clock::time_point lastPaint{};
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) lastPaint = Clock::now();
        return false;
    }
};

// Clicks as the display delivers them: press and release, queued behind whatever waits.
void postClick(QWidget* target) {
    const QPointF at(target->width() / 2.0, target->height() / 2.0);
    const QPointF global = target->mapToGlobal(at);
    QCoreApplication::postEvent(
        target, new QMouseEvent(QEvent::MouseButtonPress, at, global, Qt::LeftButton,
                                Qt::LeftButton, Qt::NoModifier));
    QCoreApplication::postEvent(
        target, new QMouseEvent(QEvent::MouseButtonRelease, at, global, Qt::LeftButton,
                                Qt::NoButton, Qt::NoModifier));
}

double cpuOf(int who) {
    rusage u{};
    getrusage(who, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The terminal as the program makes it, with quiet prompts, on the settings file in dir.
struct Terminal {
    explicit Terminal(const QTemporaryDir& dir)
        : context({device,
                   ticks,
                   prompts,
                   sound,
                   {dir.filePath(QStringLiteral("norvale-term")), std::nullopt}}) {
        // A network port's connect waits as the program's waits do, with the window alive.
        device.network().setWait([this](const std::function<bool()>& done, std::uint32_t ms) {
            return pumpUntil(done, ticks, ms);
        });
    }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    // Makes the window, which opens the port its settings name, and shows it.
    TfrmMain& show() {
        window.emplace(context);
        window->show();
        return *window;
    }

    DispatchingSerialDevice device;
    SteadyTicks ticks;
    QuietPrompts prompts;
    NullSound sound;
    AppContext context;
    std::optional<TfrmMain> window;
};

// The settings file in dir that points the terminal at portName; ends the bench when it
// cannot be written.
void writeSettings(const QTemporaryDir& dir, const QByteArray& portName,
                   const QByteArray& moreComPort = {}) {
    QFile ini(dir.filePath(QStringLiteral("norvale-term.ini")));
    if (!ini.open(QIODevice::WriteOnly) ||
        ini.write("[COMPORT]\r\nPortName=" + portName + "\r\n" + moreComPort) < 0)
        std::exit(1);
}

// A pty and a settings file in dir that points the terminal at it; ends the bench when
// either cannot be made.
PtyPair ptyWithSettings(const QTemporaryDir& dir, const QByteArray& moreComPort = {}) {
    std::string error;
    auto pty = PtyPair::create(&error);
    if (!pty) {
        std::fprintf(stderr, "flood: %s\n", error.c_str());
        std::exit(1);
    }
    writeSettings(dir, QByteArray::fromStdString(pty->slavePath()), moreComPort);
    return std::move(*pty);
}

// Runs one flood; rate 0 writes as fast as the terminal takes the bytes.
Result flood(const Load& load, std::uint64_t total, double rate, Extra extra = Extra::None) {
    QTemporaryDir dir;
    PtyPair pty = ptyWithSettings(
        dir, "RecvDlmt=" + QString::fromUtf8(load.delimiter).toLocal8Bit() + "\r\n");

    Terminal terminal(dir);
    AppContext& context = terminal.context;
    TfrmMain& window = terminal.show();
    std::optional<PaintCount> paintCount;
    if (qEnvironmentVariableIsSet("NORVALE_BENCH_PAINTS")) {
        paintCount.emplace();
        qApp->installEventFilter(&*paintCount);
    }
    // The file's delimiter is not in code page 932, as the terminal reads it: set it here,
    // before the port is opened again below.
    context.settings.link.recvDlmt = QString::fromUtf8(load.delimiter);
    const QString capturePath = dir.filePath(extra == Extra::Pcapng ? QStringLiteral("flood.pcapng")
                                                                    : QStringLiteral("flood.log"));
    if ((extra == Extra::Capture || extra == Extra::Pcapng) && window.startCapture(capturePath))
        std::exit(1);
    if (extra == Extra::Inspector) window.setInspectorShown(true);
    // As the program has it: scripts can run, and one waits in expect for a frame that does not
    // come, so that every unit is matched against it.
    std::optional<ScriptWindow> scripts;
    if (extra == Extra::ScriptIdle || extra == Extra::ScriptExpect)
        scripts.emplace(context, window);
    if (extra == Extra::ScriptExpect) {
        const QString script = dir.filePath(QStringLiteral("wait.lua"));
        QFile file(script);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write("expect{msgid = 0x77, timeout = 3600000}\n") < 0)
            std::exit(1);
        file.close();
        scripts->runScript(script);
        if (!scripts->host().running()) std::exit(1);
    }
    context.port.open();

    Result r;
    const std::uint64_t chunks = (total + static_cast<std::uint64_t>(load.chunk.size()) - 1) /
                                 static_cast<std::uint64_t>(load.chunk.size());
    r.sentBytes = chunks * static_cast<std::uint64_t>(load.chunk.size());
    r.sentUnits = chunks * static_cast<std::uint64_t>(load.unitsPerChunk);
    const double cpuBefore = cpuOf(RUSAGE_SELF);
    const double busBefore = sessionsCpu(busSessions());
    const double mainBefore = cpuOf(RUSAGE_THREAD);
    ChunkWriter writer(pty.masterFd(), load.chunk, r.sentBytes, rate);
    const auto start = writer.start;
    std::uint64_t lastBytes = 0;
    auto lastChange = Clock::now();
    QTimer wake;  // lets the loop below sleep in the event loop and still look every 50 ms
    wake.start(50);
    // A user's click is an event like this timer's: its lateness is the UI's answer time.
    QTimer probe;
    auto due = Clock::now() + std::chrono::milliseconds(100);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        r.worstLatencyMs = std::max(r.worstLatencyMs,
                                    std::chrono::duration<double, std::milli>(now - due).count());
        due = now + std::chrono::milliseconds(100);
    });
    probe.start(100);
    // A click on Monitor Clear every 100 ms; its wait is the time to the handler.
    Clock::time_point clickAt{};
    bool clickPending = false;
    QObject::connect(window.btnClear, &QPushButton::clicked, [&] {
        if (!clickPending) return;
        clickPending = false;
        r.clickMs.push_back(msBetween(clickAt, Clock::now()));
    });
    QTimer clicker;
    QObject::connect(&clicker, &QTimer::timeout, [&] {
        if (clickPending || writer.done) return;
        clickPending = true;
        clickAt = Clock::now();
        postClick(window.btnClear);
    });
    // A flood is clicked through; a steady stream as a user would, now and then.
    clicker.start(rate > 0 ? 1000 : 100);
    for (;;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        const std::uint64_t bytes = window.receivePipeline().stats().bytes;
        if (bytes != lastBytes) {
            lastBytes = bytes;
            lastChange = Clock::now();
        }
        const bool quiet = Clock::now() - lastChange > std::chrono::milliseconds(500);
        if (writer.done && (bytes >= r.sentBytes || quiet)) break;
    }
    writer.join();
    // Random bytes may show nothing at all (the header rules discard them); then the time is
    // how long the terminal took to swallow the writes.
    r.seconds = std::chrono::duration<double>(std::max(lastChange, writer.end) - start).count();
    r.cpuSeconds = cpuOf(RUSAGE_SELF) - cpuBefore - writer.cpuSeconds;
    r.busCpuSeconds = sessionsCpu(busSessions()) - busBefore;
    r.mainCpuSeconds = cpuOf(RUSAGE_THREAD) - mainBefore;
    r.shown = window.receivePipeline().stats();
    if (scripts) scripts->stopScript();
    context.port.close();
    if (extra == Extra::Capture) {
        window.stopCapture();
        countCapture(capturePath, r);
    }
    return r;
}

struct LoneResult {
    std::vector<double> insideMs;   // last byte written → the program's probe: line inserted
    std::vector<double> outsideMs;  // last byte written → the loop regains control after the
                                    // monitor's next paint
    int frames = 0;
    int shown = 0;
};

// Lone key frames at a steady rate, each on a quiet line.
LoneResult lone(double seconds, double framesPerSecond) {
    QTemporaryDir dir;
    PtyPair pty = ptyWithSettings(dir);
    Terminal terminal(dir);
    AppContext& context = terminal.context;
    TfrmMain& window = terminal.show();
    context.port.open();
    PaintWatch paints;
    window.memoRecv->viewport()->installEventFilter(&paints);
    const QByteArray frame = keyFrames().chunk.left(19);

    LoneResult r;
    r.frames = std::max(1, static_cast<int>(seconds * framesPerSecond));
    std::vector<Clock::time_point> written(static_cast<std::size_t>(r.frames));
    std::atomic<int> writtenCount{0};
    // Let the window settle before the first frame.
    const auto settle = Clock::now() + std::chrono::milliseconds(300);
    while (Clock::now() < settle) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    const std::uint64_t base = window.monitorProbe().lines;
    std::thread writer([&] {
        const auto start = Clock::now();
        for (int i = 0; i < r.frames; ++i) {
            std::this_thread::sleep_until(start +
                                          std::chrono::duration<double>(i / framesPerSecond));
            writeAll(pty.masterFd(), frame.constData(), static_cast<std::size_t>(frame.size()));
            written[static_cast<std::size_t>(i)] = Clock::now();
            writtenCount.store(i + 1);
        }
    });
    QTimer wake;
    wake.start(50);
    int next = 0;  // the frame whose line is awaited
    bool inserted = false;
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds + 2);
    while (next < r.frames && Clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        const auto now = Clock::now();
        const auto& probe = window.monitorProbe();
        if (!inserted && probe.lines >= base + static_cast<std::uint64_t>(next) + 1 &&
            writtenCount.load() > next) {
            r.insideMs.push_back(msBetween(written[static_cast<std::size_t>(next)], probe.shownAt));
            inserted = true;
            ++r.shown;
        }
        if (inserted && paints.lastPaint >= probe.shownAt) {
            r.outsideMs.push_back(msBetween(written[static_cast<std::size_t>(next)], now));
            inserted = false;
            ++next;
        }
    }
    writer.join();
    context.port.close();
    return r;
}

void report(const char* name, const Load& load, const Result& r, double rate) {
    const double wall = r.seconds > 0 ? r.seconds : 1e-9;
    std::printf(
        "%-8s %s: %8.0f KB/s, %9.0f units/s, CPU %5.1f%% of a core, UI late <= %.0f ms", name,
        rate > 0 ? "paced" : "max  ", static_cast<double>(r.sentBytes) / wall / 1000.0,
        static_cast<double>(r.shown.units) / wall, 100.0 * r.cpuSeconds / wall, r.worstLatencyMs);
    if (load.unitsPerChunk > 0) {
        const bool exact = r.shown.units == r.sentUnits && r.shown.bytes == r.sentBytes;
        std::printf(", units %llu of %llu, bytes %llu of %llu: %s",
                    static_cast<unsigned long long>(r.shown.units),
                    static_cast<unsigned long long>(r.sentUnits),
                    static_cast<unsigned long long>(r.shown.bytes),
                    static_cast<unsigned long long>(r.sentBytes),
                    exact ? "all accounted" : "MISMATCH");
    } else {
        std::printf(", %llu units of %llu bytes from %llu sent",
                    static_cast<unsigned long long>(r.shown.units),
                    static_cast<unsigned long long>(r.shown.bytes),
                    static_cast<unsigned long long>(r.sentBytes));
    }
    std::printf(", click on Monitor Clear p50 %.1f ms max %.1f ms (%zu clicks)",
                percentile(r.clickMs, 0.5), percentile(r.clickMs, 1.0), r.clickMs.size());
    if (!busSessions().empty())
        std::printf(", accessibility bus and listener %.1f%% of a core",
                    100.0 * r.busCpuSeconds / wall);
    std::printf("\n");
}

void reportLone(const LoneResult& r, double framesPerSecond) {
    std::printf(
        "lone     %.0f frames/s: %d of %d lines; last byte to monitor p50 %.2f ms p99 %.2f ms "
        "max %.2f ms (probe); to the next paint p50 %.2f ms p99 %.2f ms max %.2f ms\n",
        framesPerSecond, r.shown, r.frames, percentile(r.insideMs, 0.5),
        percentile(r.insideMs, 0.99), percentile(r.insideMs, 1.0), percentile(r.outsideMs, 0.5),
        percentile(r.outsideMs, 0.99), percentile(r.outsideMs, 1.0));
}

// The same key-frame flood through a real ser2net on the loopback address (RFC 2217, so every
// FF of the frames goes doubled over the socket), as fast as the terminal takes it: the rate
// and whether every unit came out, the terminal's CPU and ser2net's beside it. False when a
// unit went missing; true, with a note, when ser2net is not there to run it. With tls, the
// same over TLS with a client certificate required, beside the plain run.
bool floodThroughSer2net(std::uint64_t total, bool tls) {
    const char* label = tls ? "net tls " : "net     ";
    std::string error;
    auto pty = PtyPair::create(&error);
    if (!pty || !pty->holdSlave(&error)) {
        std::fprintf(stderr, "flood: %s\n", error.c_str());
        return false;
    }
    Ser2netServer server;
    if (tls) {
        if (!TestCertificates::available()) {
            std::printf("%s skipped: openssl is not installed\n", label);
            return true;
        }
        const TestCertificates& c = TestCertificates::get();
        if (!c.ok()) {
            std::printf("%s skipped: %s\n", label, c.error().c_str());
            return false;
        }
        server.setTls(
            Ser2netServer::Tls{c.crt("server"), c.key("server"), c.crt("ca")},
            "?ca=" + c.crt("ca") + "&cert=" + c.crt("client") + "&key=" + c.key("client"));
    }
    if (!server.start(pty->slavePath(), Ser2netServer::Accepter::Rfc2217, &error)) {
        std::printf("%s skipped: %s\n", label, error.c_str());
        return Ser2netServer::program().isEmpty();
    }
    QTemporaryDir dir;
    writeSettings(dir, server.portName().toLatin1(), "BaudRate=115200\r\n");
    const Load load = keyFrames();
    Terminal terminal(dir);
    AppContext& context = terminal.context;
    TfrmMain& window = terminal.show();
    // A network port opens after the window shows.
    if (!pumpUntil([&] { return context.port.isOpen(); }, terminal.ticks, 8000)) {
        std::printf("%s could not open %s\n", label, qPrintable(server.portName()));
        return false;
    }
    const auto chunk = static_cast<std::uint64_t>(load.chunk.size());
    const std::uint64_t chunks = (total + chunk - 1) / chunk;
    const std::uint64_t sentBytes = chunks * chunk;
    const std::uint64_t sentUnits = chunks * static_cast<std::uint64_t>(load.unitsPerChunk);
    const double cpuBefore = cpuOf(RUSAGE_SELF);
    const double serverBefore = server.cpuSeconds();
    ChunkWriter writer(pty->masterFd(), load.chunk, sentBytes, 0);
    const auto start = writer.start;
    QTimer wake;
    wake.start(50);
    std::uint64_t lastBytes = 0;
    auto lastChange = Clock::now();
    for (;;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        const std::uint64_t bytes = window.receivePipeline().stats().bytes;
        if (bytes != lastBytes) {
            lastBytes = bytes;
            lastChange = Clock::now();
        }
        if (bytes >= sentBytes ||
            (writer.done && Clock::now() - lastChange > std::chrono::milliseconds(1000)))
            break;
    }
    writer.join();
    const double wall = std::max(1e-9, std::chrono::duration<double>(lastChange - start).count());
    const double cpu = cpuOf(RUSAGE_SELF) - cpuBefore - writer.cpuSeconds;
    const double serverCpu = server.cpuSeconds() - serverBefore;
    const ReceivePipeline::Stats shown = window.receivePipeline().stats();
    context.port.close();
    const bool exact = shown.units == sentUnits && shown.bytes == sentBytes;
    std::printf(
        "%s max  : %8.0f KB/s, %9.0f units/s, CPU %5.1f%% of a core, ser2net %5.1f%%, "
        "units %llu of %llu, bytes %llu of %llu: %s (RFC 2217%s on loopback)\n",
        label, static_cast<double>(sentBytes) / wall / 1000.0,
        static_cast<double>(shown.units) / wall, 100.0 * cpu / wall, 100.0 * serverCpu / wall,
        static_cast<unsigned long long>(shown.units), static_cast<unsigned long long>(sentUnits),
        static_cast<unsigned long long>(shown.bytes), static_cast<unsigned long long>(sentBytes),
        exact ? "all accounted" : "MISMATCH", tls ? " over TLS, client certificate" : "");
    return exact;
}

// The key flood with the monitor alone and with each extra beside it (a text capture, a pcapng
// capture, the inspector shown, scripts ready, a script waiting in expect), in interleaved
// rounds; prints each variant's median rate and CPU. A paced rate the terminal can hold tells
// the variants apart better than the fastest: how fast a pty drains depends on when its reader
// is scheduled, which varies more between runs than the variants do.
bool compare(int rounds, std::uint64_t total, double rate) {
    const Load load = keyFrames();
    constexpr int kVariants = std::size(kExtraNames);
    std::vector<double> rates[kVariants];
    std::vector<double>
        cpuPerMb[kVariants];  // steadier than the rate on a machine that is not idle
    std::vector<double> mainPerMb[kVariants];
    bool ok = true;
    for (int round = 0; round < rounds; ++round) {
        // Each round starts one variant later: a machine that is slower at some point of a round
        // then weighs on every variant alike.
        for (int k = 0; k < kVariants; ++k) {
            const int v = (round + k) % kVariants;
            const Result r = flood(load, total, rate, static_cast<Extra>(v));
            rates[v].push_back(static_cast<double>(r.sentBytes) / r.seconds / 1000.0);
            const double mb = static_cast<double>(r.sentBytes) / 1e6;
            cpuPerMb[v].push_back(1000.0 * r.cpuSeconds / mb);
            mainPerMb[v].push_back(1000.0 * r.mainCpuSeconds / mb);
            report(kExtraNames[v], load, r, rate);
            ok = ok && r.shown.units == r.sentUnits && r.shown.bytes == r.sentBytes;
            if (static_cast<Extra>(v) == Extra::Capture) {
                const bool whole =
                    r.capturedUnits == r.shown.units && r.capturedBytes == r.shown.bytes;
                std::printf("capture  file: units %llu, bytes %llu: %s\n",
                            static_cast<unsigned long long>(r.capturedUnits),
                            static_cast<unsigned long long>(r.capturedBytes),
                            whole ? "every unit in the file" : "MISMATCH");
                ok = ok && whole;
            }
        }
    }
    const double plain = percentile(rates[0], 0.5);
    const double plainCpu = percentile(cpuPerMb[0], 0.5);
    const double plainMain = percentile(mainPerMb[0], 0.5);
    for (int v = 0; v < kVariants; ++v) {
        const double median = percentile(rates[v], 0.5);
        const double cpu = percentile(cpuPerMb[v], 0.5);
        const double main = percentile(mainPerMb[v], 0.5);
        std::printf(
            "median   %-9s %8.0f KB/s (%+.1f%% against plain), CPU %.1f ms per MB (%+.1f%%), "
            "of it the window's thread %.1f ms (%+.1f%%), %d rounds\n",
            kExtraNames[v], median, 100.0 * (median - plain) / plain, cpu,
            100.0 * (cpu - plainCpu) / plainCpu, main, 100.0 * (main - plainMain) / plainMain,
            rounds);
    }
    return ok;
}

// The terminal beside the peers in interleaved rounds, on the key frames: the paced stream
// (CPU of a core, whole process trees, the bus's apart) and the flood (how fast it is drained
// and shown). Prints the medians and how the terminal stands against CuteCom's CPU and
// picocom's rate. False when any run lost bytes.
bool comparePeers(int rounds, std::uint64_t total, std::uint64_t pacedTotal, double rate,
                  const std::vector<std::string>& busEnv) {
    const Load load = keyFrames();
    bool ok = true;
    struct Figures {
        std::vector<double> cpu, bus, rate;
    };
    Figures ours, oursPaced, cutecomPaced, picoPaced, picoMax;
    const auto pct = [](double cpu, double seconds) {
        return 100.0 * cpu / std::max(seconds, 1e-9);
    };
    const auto peer = [&](Peer which, std::uint64_t bytes, double pace, Figures& into) {
        const PeerRun r = runPeer(which, load.chunk, bytes, pace, busEnv, busSessions());
        if (!r.skipped.empty()) {
            std::printf("%-8s skipped: %s\n", peerName(which), r.skipped.c_str());
            return;
        }
        into.cpu.push_back(pct(r.cpuSeconds, r.seconds));
        into.bus.push_back(pct(r.busCpuSeconds, r.seconds));
        into.rate.push_back(static_cast<double>(r.sentBytes) / r.seconds / 1000.0);
        const bool whole = !r.counted || r.shownBytes == r.sentBytes;
        ok = ok && whole;
        std::printf("%-8s %s: %8.0f KB/s, CPU %5.1f%% of a core%s, bytes %llu of %llu: %s\n",
                    peerName(which), pace > 0 ? "paced" : "max  ", into.rate.back(),
                    into.cpu.back(),
                    busSessions().empty()
                        ? ""
                        : qPrintable(QString::asprintf(", accessibility bus and listener %.1f%%",
                                                       into.bus.back())),
                    static_cast<unsigned long long>(r.shownBytes),
                    static_cast<unsigned long long>(r.sentBytes),
                    !r.counted ? "drained"
                    : whole    ? "all shown"
                               : "MISMATCH");
    };
    const auto own = [&](std::uint64_t bytes, double pace, Figures& into) {
        const Result r = flood(load, bytes, pace);
        report("norvale", load, r, pace);
        ok = ok && r.shown.units == r.sentUnits && r.shown.bytes == r.sentBytes;
        into.cpu.push_back(pct(r.cpuSeconds, r.seconds));
        into.bus.push_back(pct(r.busCpuSeconds, r.seconds));
        into.rate.push_back(static_cast<double>(r.sentBytes) / r.seconds / 1000.0);
    };
    for (int round = 0; round < rounds; ++round) {
        own(pacedTotal, rate, oursPaced);
        peer(Peer::Cutecom, pacedTotal, rate, cutecomPaced);
        peer(Peer::Picocom, pacedTotal, rate, picoPaced);
        own(total, 0, ours);
        peer(Peer::Picocom, total, 0, picoMax);
    }
    const auto med = [](const std::vector<double>& v) { return percentile(v, 0.5); };
    std::printf(
        "median   %.0f KB/s paced, CPU of a core (own + accessibility bus): norvale %.1f%% + "
        "%.1f%%, "
        "CuteCom %.1f%% + %.1f%%, picocom %.1f%%; norvale against CuteCom: %.2f of its CPU\n",
        rate / 1000.0, med(oursPaced.cpu), med(oursPaced.bus), med(cutecomPaced.cpu),
        med(cutecomPaced.bus), med(picoPaced.cpu),
        cutecomPaced.cpu.empty()
            ? 0.0
            : (med(oursPaced.cpu) + med(oursPaced.bus)) /
                  std::max(1e-9, med(cutecomPaced.cpu) + med(cutecomPaced.bus)));
    std::printf(
        "median   flood, drained and shown: norvale %.0f KB/s (CPU %.1f%%), picocom %.0f KB/s "
        "(CPU %.1f%%); norvale against picocom: %.2f of its rate; %d rounds\n",
        med(ours.rate), med(ours.cpu), med(picoMax.rate), med(picoMax.cpu),
        picoMax.rate.empty() ? 0.0 : med(ours.rate) / med(picoMax.rate), rounds);
    return ok;
}

long peakRssKb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

}  // namespace

// Everything asked for, in this process.
bool runHere(const Options& o) {
    const auto total = static_cast<std::uint64_t>(o.megabytes * 1e6);
    const auto pacedTotal = static_cast<std::uint64_t>(o.pacedRate * o.pacedSeconds);
    if (o.compare > 0) return compare(o.compare, total, o.compareRate);
    if (o.peers > 0) return comparePeers(o.peers, total, pacedTotal, o.pacedRate, {});
    bool ok = true;
    const auto run = [&](const char* name, const Load& load) {
        if (!o.only.empty() && o.only != name) return;
        const Result max = flood(load, total, 0);
        report(name, load, max, 0);
        if (load.unitsPerChunk > 0)
            ok = ok && max.shown.units == max.sentUnits && max.shown.bytes == max.sentBytes;
        if (std::string(name) == "keys" && o.pacedSeconds > 0) {
            const Result paced = flood(load, pacedTotal, o.pacedRate);
            report(name, load, paced, o.pacedRate);
            ok = ok && paced.shown.units == paced.sentUnits;
        }
    };
    if (o.only.empty() || o.only == "lone") {
        const LoneResult r = lone(std::max(o.pacedSeconds, 0.5), 20);
        reportLone(r, 20);
        ok = ok && r.shown == r.frames;
    }
    run("keys", keyFrames());
    run("random", randomBytes());
    run("lines", textLines());
    if (o.only.empty() || o.only == "net") {
        ok = floodThroughSer2net(total, false) && ok;
        ok = floodThroughSer2net(total, true) && ok;
    }
    std::printf("peak RSS: %.1f MB after %.0f MB per flood\n",
                static_cast<double>(peakRssKb()) / 1024.0, o.megabytes);
    return ok;
}

// Runs the bench again in a child on a desktop whose accessibility bus is up, with a listener
// standing in for a screen reader; false when the child failed or the bus could not be had.
bool runWithBusUp(int argc, char** argv) {
    std::printf("== accessibility bus up, a listener registered for a screen reader's events\n");
    std::fflush(stdout);
    AccessibilityBus bus;
    std::string error;
    if (!bus.start(NORVALE_BENCH_DIR "/accessibility_listener.py", &error)) {
        std::printf("bus up   skipped: %s\n", error.c_str());
        return true;
    }
    std::string sessions;
    for (const pid_t s : bus.sessions()) sessions += std::to_string(s) + ",";
    std::vector<std::string> env = bus.environment();
    env.insert(env.begin(), "NORVALE_BENCH_BUS_SESSIONS=" + sessions);
    std::vector<std::string> args{"/proc/self/exe"};
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    ChildStreams streams;
    streams.stdoutFd = 1;
    streams.stderrPath.clear();
    const pid_t child = spawnChild(args, streams, env);
    const int rc = child > 0 ? waitChild(child, 3'600'000) : -1;
    std::printf("bus up   the listener took %ld events\n", bus.stopListener());
    return rc == 0;
}

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--mb" && i + 1 < argc) {
            o.megabytes = std::stod(argv[++i]);
        } else if (a == "--paced-seconds" && i + 1 < argc) {
            o.pacedSeconds = std::stod(argv[++i]);
        } else if (a == "--compare" && i + 1 < argc) {
            o.compare = std::stoi(argv[++i]);
        } else if (a == "--compare-rate" && i + 1 < argc) {
            o.compareRate = std::stod(argv[++i]) * 1e6;
        } else if (a == "--peers" && i + 1 < argc) {
            o.peers = std::stoi(argv[++i]);
        } else if (a == "--bus" && i + 1 < argc &&
                   (std::string(argv[i + 1]) == "up" || std::string(argv[i + 1]) == "down" ||
                    std::string(argv[i + 1]) == "both")) {
            o.bus = argv[++i];
        } else if (a == "--only" && i + 1 < argc) {
            o.only = argv[++i];
        } else {
            std::printf(
                "usage: flood [--mb N] [--paced-seconds S] [--only keys|random|lines|lone|net]\n"
                "             [--compare ROUNDS [--compare-rate MB_PER_S]]  (keys plain and with\n"
                "             each extra; at 4 MB/s unless told, 0 for as fast as taken)\n"
                "             [--peers ROUNDS]  (keys beside picocom and CuteCom)\n"
                "             [--bus down|up|both]  (the accessibility bus; both on a display)\n");
            return a == "--help" ? 0 : 2;
        }
    }
    const bool display = !qEnvironmentVariableIsEmpty("DISPLAY");
    const bool busChild = !busSessions().empty();
    if (o.bus.empty()) o.bus = display ? "both" : "down";
    if (!busChild && o.bus == "up") return runWithBusUp(argc, argv) ? 0 : 1;
    if (!display) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (!busChild && o.bus == "both") std::printf("== accessibility bus down\n");
    bool ok = [&] {
        QApplication app(argc, argv);
        std::printf("platform: %s%s\n", qPrintable(QGuiApplication::platformName()),
                    QGuiApplication::platformName() == QLatin1String("offscreen")
                        ? " (nothing is drawn: the figures flatter)"
                        : "");
        return runHere(o);
    }();
    if (!busChild && o.bus == "both") ok = runWithBusUp(argc, argv) && ok;
    return ok ? 0 : 1;
}
