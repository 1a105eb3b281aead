#include "main/app_context.h"

#include "com/settings_file.h"

AppContext::AppContext(PlatformServices services)
    : platform(std::move(services)),
      settingsPath(settingsPathFor(platform.executable.path)),
      port(settings.link, platform.serial, platform.ticks, platform.prompts, kAppTitle) {}

void AppContext::loadSettings() {
    settings = ::loadSettings(settingsPath);
    port.setReportOpenFailure(false);
}

bool AppContext::saveSettings() { return ::saveSettings(settingsPath, settings); }
