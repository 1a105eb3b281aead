// SPDX-License-Identifier: MIT
#pragma once
// Where the settings file lives. Beside the executable, as always, when it is already there
// or that folder can be written (a portable install); an executable in /usr/bin cannot keep
// it there, so it goes to the user's XDG config folder instead.

#include <QString>

struct SettingsLocationFacts {
    QString besideExecutable;  // the executable's path with ".ini" for its extension
    bool existsBeside = false;
    bool folderWritable = false;
    // /usr/bin and the like belong to the package manager, writable or not (root can write
    // everywhere): an installed program never scatters settings there.
    bool systemFolder = false;
    QString xdgConfigHome;  // $XDG_CONFIG_HOME, empty when unset
    QString home;           // $HOME
};

[[nodiscard]] QString settingsLocation(const SettingsLocationFacts& facts);

// The same, with the facts read from this machine and environment.
[[nodiscard]] QString settingsLocationFor(const QString& executablePath);
