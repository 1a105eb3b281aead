// SPDX-License-Identifier: MIT
#pragma once
// The settings file: an INI file next to the executable in the usual profile layout and code
// page 932, so other programs that read profile files can share it. Loading never fails (what
// cannot be read keeps its default); saving rewrites only our fifteen keys (and Reconnect, once
// the user has turned it on), keeps everything else in the file, and replaces the file
// atomically so a failed save leaves the old one intact.

#include <QByteArrayView>
#include <QString>

#include "core/link_settings.h"

// The executable's path with its extension replaced by ".ini", or ".ini" appended when it has
// none. Only the last path component is looked at; a leading dot there marks a hidden file, not
// an extension.
QString settingsPathFor(const QString& executablePath);

// Defaults for every key the file lacks or holds in an unreadable form; all defaults when the
// file is missing, unreadable or not a regular file.
Settings loadSettings(const QString& path);

// A text that still reads as the file holds it is left byte for byte as it is, so bytes without
// a code page 932 meaning survive. False, with the file left as it was, when a changed text has
// no code page 932 form or contains a line break or NUL, when an existing file cannot be read,
// or when the new file cannot be written.
bool saveSettings(const QString& path, const Settings& settings);
