// SPDX-License-Identifier: MIT
#pragma once
// The program's command-line options. Without any, the program does exactly what it always
// does; each option turns on something a user asks for deliberately.

#include <QString>
#include <QStringList>
#include <optional>

struct ProgramOptions {
    bool engineering = false;  // the Option menu and the module panel's engineering controls
    QString capture;           // a file to capture to from start-up; empty for none
};

struct CommandLine {
    ProgramOptions options;
    // Set when the program should print this and end: help, version, or an error.
    std::optional<QString> text;
    int exitCode = 0;
};

// arguments as QCoreApplication::arguments() gives them (the program name first, Qt's own
// options already taken out).
[[nodiscard]] CommandLine parseCommandLine(const QStringList& arguments);
