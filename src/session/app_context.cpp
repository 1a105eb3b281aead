// SPDX-License-Identifier: MIT
#include "session/app_context.h"

#include <QDir>
#include <QFileInfo>

#include "platform/settings_file.h"
#include "platform/settings_location.h"

AppContext::AppContext(PlatformServices services)
    : platform(std::move(services)),
      settingsPath(settingsLocationFor(platform.executable.path)),
      port(settings.link, platform.serial, platform.ticks, platform.prompts, kAppTitle),
      sender([this](const QByteArray& bytes) {
          return port.write(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                            static_cast<std::size_t>(bytes.size()));
      }) {
    sender.setSentObserver([this](const QByteArray& frame) { capture.sent(frame); });
    // The line's own events (open, closed, waiting for the device, back) go into a pcapng
    // capture beside the frames, so that a gap in the traffic can be told from a silent module.
    // Text captures stay as they were.
    QObject::connect(&port, &PortDriver::statusChanged, &port, [this](const QString& text) {
        if (capture.running() && capture.pcapng()) capture.note(QStringLiteral("line: ") + text);
    });
    QObject::connect(&port, &PortDriver::reconnected, &port, [this] {
        if (capture.running() && capture.pcapng())
            capture.note(QStringLiteral("line: reconnected as ") + settings.link.portName);
    });
    capture.setInterfaceSource([this] {
        const LinkSettings& link = settings.link;
        return CaptureInterface{link.portName,
                                QStringLiteral("%1 %2%3%4")
                                    .arg(link.baudRate)
                                    .arg(link.dataBits)
                                    .arg(link.parity.left(1).toUpper())
                                    .arg(link.stopBits),
                                static_cast<std::uint64_t>(link.baudRate)};
    });
}

void AppContext::loadSettings() {
    const bool firstStart = !QFileInfo::exists(settingsPath);
    settings = ::loadSettings(settingsPath);
    if (firstStart && firstStartPortName) {
        if (const QString name = firstStartPortName(); !name.isEmpty())
            settings.link.portName = name;
    }
    port.setReportOpenFailure(false);
}

bool AppContext::saveSettings() {
    ++m_saves;
    // The XDG folder may not exist yet on a first run.
    QDir().mkpath(QFileInfo(settingsPath).absolutePath());
    return ::saveSettings(settingsPath, settings);
}
