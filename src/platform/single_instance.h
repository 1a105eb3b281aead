// SPDX-License-Identifier: MIT
#pragma once
// One running terminal per user. The first process listens on a local socket; a later one
// connects, asks it to come to the front, and ends.
//
// No other local user may keep the terminal from starting, so nothing of the rule lives where
// others can reach it: the socket and its lock sit in $XDG_RUNTIME_DIR when that folder is ours
// and closed to everyone else, or else in a folder of our own under the temporary folder, made
// 0700 and checked before use. Even there a listener counts as "already running" only when the
// peer's credentials say it is a process of our own user. The lock file makes look-and-listen
// one step, so that two starts at the same moment cannot both end up listening.
//
// Where no trustworthy folder can be had the terminal starts all the same, without the rule.
// Each such detour is kept as a note for standard error.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <utility>

#include "platform/linux_serial_device.h"  // UniqueFd

class QLocalServer;

class SingleInstance final : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(const QString& appTitle, QObject* parent = nullptr);
    ~SingleInstance() override;

    // The socket's file name inside the private folder, one per title.
    [[nodiscard]] static QString socketFileNameFor(const QString& appTitle);
    // The folder for the socket and its lock (created when it is our own under the temporary
    // folder), or empty when none can be trusted; why not the first choice goes to *notes.
    [[nodiscard]] static QString privateFolder(QStringList* notes);

    // The socket's full path; empty when there is no private folder.
    [[nodiscard]] QString serverName() const { return m_name; }
    // The detours taken since the last call, one line each.
    [[nodiscard]] QStringList takeNotes() { return std::exchange(m_notes, {}); }

    // True when another instance of our user answered and was asked to raise its window. Takes
    // the lock first and, when it returns false, keeps it for listen().
    // request: "raise", or "raise engineering" to switch the running one to engineering mode.
    bool notifyRunning(int timeoutMs = 1000, const QByteArray& request = "raise");
    // Starts listening, then lets go of the lock. A socket left behind by a crashed process (or
    // a listener of another user) is removed first.
    bool listen();

Q_SIGNALS:
    void activationRequested();
    void engineeringRequested();

private:
    bool lock();

    QString m_name;
    QStringList m_notes;
    UniqueFd m_lock;
    QLocalServer* m_server = nullptr;
};
