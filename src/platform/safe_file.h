// SPDX-License-Identifier: MIT
#pragma once
// Whole-file reads and atomic replaces for the files the user names (settings, monitor logs).
// POSIX directly: the replace needs fsync before rename, must refuse anything but a regular
// file at the path (a FIFO would block, a device node would be renamed over), and must say
// what the system said ("No space left on device"), which QSaveFile does not.
//
// A replace never rewrites the old file in place: when no temporary file can be made beside
// it, the old file stays whole and the reason is returned. Mode, owner and group carry over
// as far as the caller may set them; in a set-group-ID folder the folder's group is kept.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

struct FileOutcome {
    bool ok = false;
    int error = 0;   // errno of the step that failed, 0 when ok or for a refusal of our own
    QString reason;  // the system's words, or ours for a refusal; empty when ok

    explicit operator bool() const { return ok; }
};

// The reason given for refusing a FIFO, device or folder where a file was asked for.
extern const QString kNotARegularFile;

enum class ReadStatus { Missing, Read, Failed };

struct FileRead {
    ReadStatus status = ReadStatus::Failed;
    QByteArray bytes;
    QString reason;  // when Failed
};

// Never blocks, and opens nothing but a regular file: anything else is refused unopened.
[[nodiscard]] FileRead readRegularFile(const QString& path);

// Opens path for appending, creating it when missing, and never opens anything else than a
// regular file: a device, FIFO or folder at the path or behind a link is refused unopened
// (opening a serial port toggles its lines), also when it is put there while we look.
// Returns the descriptor, or -1 and why.
[[nodiscard]] int openRegularForAppend(const QString& path, FileOutcome* why);

// Writes all of data to fd, resuming after partial writes and EINTR. *written, when given,
// gets the count that went out, also when the write failed part way.
bool writeAll(int fd, QByteArrayView data, qsizetype* written = nullptr);

// Writes data to a temporary file beside path, syncs it and renames it over path; a symlink
// is followed so the link stays. Fails, touching nothing, when path exists as anything but a
// regular file (or a dangling link), or is read-only.
[[nodiscard]] FileOutcome replaceFileContents(const QString& path, QByteArrayView data);
