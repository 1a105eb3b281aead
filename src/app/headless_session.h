// SPDX-License-Identifier: MIT
#pragma once
// A terminal without a window, as norvale-run's script runs and live captures use it: the
// port (local or network, whose opens wait with the event loop running), the link settings
// read from the terminal's file and never written, and the receive pipeline feeding the
// capture. Callers adjust the link settings before they open the port.

#include <QFileInfo>
#include <QString>

#include "app/headless_console.h"
#include "platform/dispatching_serial_device.h"
#include "platform/executable_info.h"
#include "platform/settings_location.h"
#include "platform/sound.h"
#include "platform/steady_ticks.h"
#include "session/app_context.h"
#include "session/event_wait.h"
#include "session/headless_views.h"
#include "session/receive_pipeline.h"

// The terminal's settings file, wherever the terminal beside this program keeps it.
inline QString terminalSettingsPath(const ExecutableInfo& exe) {
    return settingsLocationFor(QFileInfo(exe.path).absolutePath() +
                               QStringLiteral("/norvale-term"));
}

struct HeadlessSession {
    // settingsFile: empty for the terminal's own.
    explicit HeadlessSession(const QString& settingsFile) {
        serial.network().setWait([this](const std::function<bool()>& done, std::uint32_t ms) {
            return pumpUntil(done, ticks, ms);
        });
        ctx.settingsPath = settingsFile.isEmpty() ? terminalSettingsPath(exe) : settingsFile;
        ctx.loadSettings();
        pipeline.setCapture(&ctx.capture);
        ctx.port.setReceiveHandler(&pipeline);
    }
    HeadlessSession(const HeadlessSession&) = delete;
    HeadlessSession& operator=(const HeadlessSession&) = delete;

    const ExecutableInfo exe = ExecutableInfo::current();
    SteadyTicks ticks;
    DispatchingSerialDevice serial;
    StderrPrompts prompts{QStringLiteral("norvale-run")};
    NullSound sound;
    AppContext ctx{{serial, ticks, prompts, sound, exe}};
    LinkSettings& link = ctx.settings.link;
    NoMonitor view;
    NoFrameEvents events;
    ReceivePipeline pipeline{link, ctx.port, ticks, view, events};
};
