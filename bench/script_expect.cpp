// SPDX-License-Identifier: MIT
// How quickly a script's expect sees an answer, and how fast send/expect goes against
// orlin-sim.
//
//   script_expect [--units N] [--frames N]
//
// 1. Latency: the bench writes a 15-byte frame at the master of a pty; the script, waiting in
//    expect, calls log() as soon as expect returns it. Printed: last byte written -> expect
//    returned, p50 and p99 over N units (aim: p99 <= 1 ms on an idle machine).
// 2. Rate: the soak pattern (send, expect its answer) against orlin-sim at 115200 baud, as
//    exchanges per second and as a share of what the line could carry at that speed. A pty
//    does not pace bytes to the baud rate, so the share can pass 100 %.
#include <unistd.h>

#include <QCoreApplication>
#include <QProcess>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "session/app_context.h"
#include "session/event_wait.h"
#include "session/receive_pipeline.h"
#include "platform/linux_serial_device.h"
#include "platform/pty_pair.h"
#include "platform/sound.h"
#include "platform/steady_ticks.h"
#include "quiet_prompts.h"
#include "session/headless_views.h"
#include "session/script_host.h"

namespace {

using Clock = std::chrono::steady_clock;

// A terminal without a window on the device at path, with a script host on it.
struct Rig {
    explicit Rig(const QString& path, int baud) : context({serial, ticks, prompts, sound, {}}) {
        context.settings.link.portName = path;
        context.settings.link.baudRate = baud;
        context.port.setReceiveHandler(&pipeline);
        ok = context.port.open();
        pipeline.setUnitTap([this](std::span<const std::uint8_t> u) { host.unitReceived(u); });
    }
    SteadyTicks ticks;
    LinuxSerialDevice serial;
    QuietPrompts prompts;
    NullSound sound;
    AppContext context;
    NoMonitor view;
    NoFrameEvents events;
    ReceivePipeline pipeline{context.settings.link, context.port, ticks, view, events};
    ScriptHost host{ScriptEnvironment{
        context.port, context.sender, context.settings.link, context.settings.module, {}, {}, {}}};
    bool ok = false;
};

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1,
                      static_cast<std::size_t>(p / 100.0 * static_cast<double>(v.size())))];
}

int latency(int units) {
    std::string error;
    auto pty = PtyPair::create(&error);
    if (!pty) return std::fprintf(stderr, "script_expect: %s\n", error.c_str()), 1;
    Rig rig(QString::fromStdString(pty->slavePath()), 115200);
    if (!rig.ok) return std::fprintf(stderr, "script_expect: the pty did not open\n"), 1;
    int returned = 0;
    Clock::time_point returnedAt;
    QObject::connect(&rig.host, &ScriptHost::logged, [&] {
        returnedAt = Clock::now();
        ++returned;
    });
    rig.host.startSource("while expect{msgid = 6, timeout = 5000} do log('') end",
                         QStringLiteral("bench"));
    pumpFor(50, rig.ticks);
    const std::vector<std::uint8_t> frame{0x0F, 0x5A, 0x0F, 0x06, 0x00, 0xFF, 0xFF, 0xFF,
                                          0xFF, 0x10, 0x00, 0x00, 0x01, 0x10, 0x00};
    std::vector<double> us;
    for (int i = 0; i < units; ++i) {
        const int before = returned;
        if (::write(pty->masterFd(), frame.data(), frame.size()) !=
            static_cast<ssize_t>(frame.size()))
            break;
        const Clock::time_point written = Clock::now();
        if (!pumpUntil([&] { return returned > before; }, rig.ticks, 2000)) break;
        us.push_back(std::chrono::duration<double, std::micro>(returnedAt - written).count());
        pumpFor(2, rig.ticks);
    }
    rig.host.stop();
    std::printf(
        "expect latency, last byte written -> expect returned, %zu units: p50 %.3f ms, "
        "p99 %.3f ms, max %.3f ms\n",
        us.size(), percentile(us, 50) / 1000, percentile(us, 99) / 1000,
        percentile(us, 100) / 1000);
    return us.size() == static_cast<std::size_t>(units) ? 0 : 1;
}

int rate(int frames) {
    QProcess sim;
    sim.start(QStringLiteral(ORLIN_SIM_BIN), {});
    if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000)) return 1;
    const QString path = QString::fromLatin1(sim.readLine().trimmed());
    Rig rig(path, 115200);
    if (!rig.ok) return 1;
    int lost = -1;
    QObject::connect(&rig.host, &ScriptHost::logged, [&](const QString& t) { lost = t.toInt(); });
    const QByteArray script = "local lost = 0\nfor _ = 1, " + QByteArray::number(frames) +
                              " do\n  local _, seq = send{msgid = 0x10, hex = '01 02 03 04'}\n"
                              "  if not expect{msgid = 6, timeout = 500, match = function(f) "
                              "return f.payload:byte(2) == seq end} then lost = lost + 1 end\nend\n"
                              "log(lost)\n";
    const Clock::time_point t0 = Clock::now();
    rig.host.startSource(script, QStringLiteral("soak"));
    pumpUntil([&] { return !rig.host.running(); }, rig.ticks, 600000);
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    // 17 bytes out, 15 back, ten bits a byte: what a 115200 baud line carries one after another.
    const double lineRate = 115200.0 / 10.0 / (17 + 15);
    const double achieved = frames / s;
    std::printf(
        "send/expect against orlin-sim at 115200 baud: %d exchanges in %.2f s, %d lost: "
        "%.0f/s, %.0f %% of the line's %.0f/s\n",
        frames, s, lost, achieved, 100 * achieved / lineRate, lineRate);
    sim.terminate();
    sim.waitForFinished(3000);
    return lost == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int units = 2000;
    int frames = 5000;
    const QStringList a = QCoreApplication::arguments();
    for (int i = 1; i + 1 < a.size(); i += 2) {
        if (a[i] == QLatin1String("--units")) units = a[i + 1].toInt();
        if (a[i] == QLatin1String("--frames")) frames = a[i + 1].toInt();
    }
    const int l = latency(units);
    const int r = rate(frames);
    return l || r;
}
