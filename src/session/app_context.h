// SPDX-License-Identifier: MIT
#pragma once
// Everything the windows share: platform services, the settings and the port. Built once by
// the program entry and afresh by each test, so there are no mutable globals.

#include <QString>
#include <functional>

#include "session/capture.h"
#include "session/frame_sender.h"
#include "core/link_settings.h"
#include "session/port_driver.h"
#include "platform/executable_info.h"

class Prompts;
class SerialDevice;
class Sound;
class Ticks;

struct PlatformServices {
    SerialDevice& serial;
    const Ticks& ticks;
    Prompts& prompts;
    Sound& sound;
    ExecutableInfo executable;
};

class AppContext {
public:
    static inline const QString kAppTitle = QStringLiteral("Norvale Term for Orlin");

    explicit AppContext(PlatformServices services);
    AppContext(const AppContext&) = delete;
    AppContext& operator=(const AppContext&) = delete;

    // Reads the settings file and resets the port state: open failures go unreported until
    // the user has seen the port settings.
    void loadSettings();
    // False when the file could not be written; the old file is then left whole.
    [[nodiscard]] bool saveSettings();
    [[nodiscard]] int saveCount() const { return m_saves; }

    // The port name a first start (no settings file yet) proposes; empty keeps the default.
    std::function<QString()> firstStartPortName;

    PlatformServices platform;
    QString settingsPath;
    Settings settings;
    PortDriver port;
    // Before the sender, so that it outlives the sender's observer.
    Capture capture;
    FrameSender sender;

private:
    int m_saves = 0;
};
