// SPDX-License-Identifier: MIT
#pragma once
// A session's capture: every unit handed to the monitor and every frame sent, one line each,
// appended to a file as they happen. The 1000-line cap, Monitor Clear and the survey never
// touch it.
//
// The UI thread only formats a line and appends it to a buffer under a lock; a writer thread
// of its own puts the buffer into the file in large writes, at least every kFlushMs and at
// stop, so a crash loses at most that much and a slow disk never holds up the window. A write
// that fails (a full disk, a medium pulled out) ends the capture: error() then tells why, and
// everything else goes on.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

class Capture {
public:
    static constexpr int kFlushMs = 200;

    // now gives the time stamp of each line; the wall clock by default.
    explicit Capture(std::function<QDateTime()> now = {});
    ~Capture();
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    // Opens path for appending (created when missing); refuses anything but a regular file.
    // Returns why it could not, or nothing when the capture runs.
    std::optional<QString> start(const QString& path);
    // Writes what is still buffered and closes the file. Harmless when not running.
    void stop();
    [[nodiscard]] bool running() const { return m_running; }
    [[nodiscard]] QString path() const { return m_path; }
    // Bytes in the file and on their way there.
    [[nodiscard]] std::uint64_t size() const { return m_size; }
    // Set once a write failed; the capture has then stopped taking lines.
    [[nodiscard]] std::optional<QString> error() const;

    // A unit as the monitor renders it (" 0Fh 5Ah ..."), never wrapped.
    void received(const QString& rendered);
    // A frame as it went out, header and payload together.
    void sent(const QByteArray& frame);
    // A line of the session's own (a script's log and result), marked "##" instead of an
    // arrow so that no reader takes it for a unit.
    void note(const QString& text);

    // "yyyy/mm/dd hh:mm:ss.mmm => 0Fh 5Ah" with CR LF: the line for a unit or a frame.
    [[nodiscard]] static QByteArray line(const QDateTime& at, bool received,
                                         const QString& rendered);

private:
    void append(const char* arrow, QStringView rendered);
    void writerLoop();

    std::function<QDateTime()> m_now;  // empty: the wall clock, read cheaply
    // The stamp up to the seconds' dot, made once a second: local time is costly to work out
    // and a flood brings hundreds of thousands of lines a second.
    qint64 m_stampSecond = -1;
    QByteArray m_stampPrefix;
    QByteArray m_spare;  // the writer's last buffer, handed back to keep its capacity
    QString m_path;
    bool m_running = false;
    std::atomic<std::uint64_t> m_size = 0;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    QByteArray m_pending;            // guarded by m_mutex
    bool m_stop = false;             // guarded by m_mutex
    std::optional<QString> m_error;  // guarded by m_mutex
    int m_fd = -1;                   // the writer thread's while it runs
    std::thread m_writer;
};
