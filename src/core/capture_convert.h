// SPDX-License-Identifier: MIT
#pragma once
// Turns a text capture ("yyyy/MM/dd hh:mm:ss.zzz => 0Fh 5Ah ...", CR LF) into pcapng bytes, so
// that captures written before pcapng existed open in Wireshark too. Pure: text in, bytes out.
// A line whose bytes cannot be read back (mixed rendering, a line cut short) becomes a packet
// with no bytes and the line as its comment, so nothing is lost and the count says so.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <cstdint>
#include <optional>

struct CaptureLine {
    enum class Kind { Received, Sent, Note };
    Kind kind = Kind::Note;
    std::int64_t microseconds = 0;  // since the epoch, from the local time stamp
    QByteArray bytes;               // received or sent
    QString text;                   // a note's text, or the line that could not be read back
    bool unreadable = false;        // a unit or frame line whose bytes could not be read back
};

// One line without its line end; nothing for a line that is no capture line at all.
[[nodiscard]] std::optional<CaptureLine> parseCaptureLine(QByteArrayView line);

struct ConvertCounts {
    int received = 0;
    int sent = 0;
    int notes = 0;       // the session's own lines
    int unreadable = 0;  // lines kept as comments only
};

// The whole pcapng file: section header, one interface (named interfaceName), one packet per line.
[[nodiscard]] QByteArray convertTextCapture(QByteArrayView text, const QString& application,
                                            const QString& interfaceName,
                                            ConvertCounts* counts = nullptr);
