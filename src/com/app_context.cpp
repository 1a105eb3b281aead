#include "com/app_context.h"

#include "com/settings_file.h"
#include "com/settings_location.h"

#include <QDir>
#include <QFileInfo>

AppContext::AppContext(PlatformServices services)
    : platform(std::move(services)),
      settingsPath(settingsLocationFor(platform.executable.path)),
      port(settings.link, platform.serial, platform.ticks, platform.prompts, kAppTitle),
      sender([this](const QByteArray& bytes) {
          return port.write(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                     static_cast<std::size_t>(bytes.size()));
      }) {}

void AppContext::loadSettings() {
    settings = ::loadSettings(settingsPath);
    port.setReportOpenFailure(false);
}

bool AppContext::saveSettings() {
    ++m_saves;
    // The XDG folder may not exist yet on a first run.
    QDir().mkpath(QFileInfo(settingsPath).absolutePath());
    return ::saveSettings(settingsPath, settings);
}
