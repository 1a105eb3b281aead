// SPDX-License-Identifier: MIT
#pragma once
// The monitor's text files (Open and Save As). Lines end in CR LF on disk; in memory the text
// uses '\n' between lines, as QPlainTextEdit's setPlainText() and toPlainText() do. Because a
// plain-text document cannot tell "b" from "b followed by a line end", whether the last line
// carries a line end travels beside the text as a flag.
//
// Written as UTF-8 without a byte order mark. Read as UTF-8 when the bytes are valid UTF-8 and
// as code page 932 otherwise, so files saved by the kit's older tools still open. Only regular
// files are read or written, without ever waiting on a FIFO or device.

#include <QString>

struct MonitorFileResult {
    bool ok = false;
    // The lines joined by '\n'. A line end after the last line is not part of the text: it is
    // reported by lastLineEnded instead, so that setPlainText() shows no extra empty line and
    // writing the text back with the flag reproduces the file.
    QString text;
    bool lastLineEnded = false;
    QString error;  // why the file could not be read, when !ok
};

// Accepts CR, LF and CR LF as line ends, mixed in one file if need be.
[[nodiscard]] MonitorFileResult readMonitorFile(const QString& path);

// Writes plainText (lines separated by '\n') with every '\n' turned into CR LF. lastLineEnded
// adds one more CR LF after the last line: pass true when the monitor's last line is one the
// system appended (every such line ends in a line end), false when the user typed it without
// one or the monitor is empty. An empty text with false writes an empty file.
// Replaces the file atomically, never in place; returns an empty string on success, else the
// path and the system's reason.
[[nodiscard]] QString writeMonitorFile(const QString& path, const QString& plainText,
                                       bool lastLineEnded);
