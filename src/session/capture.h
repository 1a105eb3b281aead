// SPDX-License-Identifier: MIT
#pragma once
// A session's capture: every unit handed to the monitor and every frame sent, one line each,
// appended to a file as they happen. The 1000-line cap, Monitor Clear and the survey never
// touch it.
//
// The UI thread only formats a line and appends it to a buffer under a lock; a writer thread
// of its own puts the buffer into the file in large writes, at least every kFlushMs and at
// stop, so a crash loses at most that much and a slow disk never holds up the window. A write
// that fails (a full disk, a medium pulled out) ends the capture and the file keeps whole
// lines only; a disk that stops taking data ends it once kMaxPending bytes wait. error() then
// tells why, and everything else goes on. Stopping waits for a stalled writer at most
// kStopWaitMs; the writer finishes on its own when the disk comes back.
//
// A file named *.pcapng is written as pcapng instead, for Wireshark: a section header and the
// port's interface block at start, then one packet block per unit (inbound) and per frame
// (outbound) with microsecond stamps; a note is a packet block with no bytes and the note as its
// comment. The same thread writes it, and a failed write leaves whole blocks only.

#include <QByteArray>
#include <QByteArrayView>
#include <span>
#include <QDateTime>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

// The port a pcapng capture names in its interface block.
struct CaptureInterface {
    QString name;         // "/dev/ttyUSB0"
    QString description;  // "38400 8N1"
    std::uint64_t bitsPerSecond = 0;
};

class Capture {
public:
    static constexpr int kFlushMs = 200;
    static constexpr qsizetype kMaxPending = qsizetype{64} * 1024 * 1024;
    static constexpr int kStopWaitMs = 1000;
    // The reason error() gives once kMaxPending bytes wait for the disk.
    static const QString kDiskStalled;

    // Puts data into the file as writeAll() does, with the count that went out in *written.
    using FileWrite = std::function<bool(int fd, QByteArrayView data, qsizetype* written)>;

    // now gives the time stamp of each line; the wall clock by default. write stands in for
    // the disk in tests; writeAll() by default.
    explicit Capture(std::function<QDateTime()> now = {}, FileWrite write = {});
    ~Capture();
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    // Opens path for appending (created when missing); refuses anything but a regular file
    // before opening it. Returns why it could not, or nothing when the capture runs.
    std::optional<QString> start(const QString& path);
    // A pcapng capture into a descriptor already open for writing (the FIFO a live capture
    // reader hands us), which the capture then owns. A failed write there (the reader gone)
    // ends it as a full disk would.
    void startPcapngStream(int fd, const QString& name);
    // Where a pcapng capture learns the port's name and framing at start.
    void setInterfaceSource(std::function<CaptureInterface()> source) {
        m_interface = std::move(source);
    }
    [[nodiscard]] bool pcapng() const { return m_pcapng; }
    // Whether path names a pcapng capture (ends in .pcapng, any case).
    [[nodiscard]] static bool isPcapngPath(const QString& path);
    // Writes what is still buffered and closes the file, waiting at most kStopWaitMs for a
    // stalled writer. Harmless when not running.
    void stop();
    [[nodiscard]] bool running() const { return m_running; }
    [[nodiscard]] QString path() const { return m_path; }
    // Bytes in the file and on their way there.
    [[nodiscard]] std::uint64_t size() const { return m_size; }
    // Set once a write failed; the capture has then stopped taking lines.
    [[nodiscard]] std::optional<QString> error() const;

    // A unit as the monitor renders it (" 0Fh 5Ah ..."), never wrapped, and its bytes, which a
    // pcapng capture keeps instead of the text.
    void received(const QString& rendered, std::span<const std::uint8_t> unit = {});
    // A frame as it went out, header and payload together.
    void sent(const QByteArray& frame);
    // A line of the session's own (a script's log and result), marked "##" instead of an
    // arrow so that no reader takes it for a unit.
    void note(const QString& text);

    // "yyyy/mm/dd hh:mm:ss.mmm => 0Fh 5Ah" with CR LF: the line for a unit or a frame.
    [[nodiscard]] static QByteArray line(const QDateTime& at, bool received,
                                         const QString& rendered);

private:
    // What the writer thread shares with us. The thread holds it too, so that a writer left
    // behind in a stalled write outlives the capture safely.
    struct Shared {
        FileWrite write;
        std::mutex mutex;
        std::condition_variable wake;
        std::condition_variable ended;
        QByteArray pending;  // guarded by mutex
        QByteArray spare;    // guarded by mutex: the writer's last buffer, kept for its capacity
        bool stop = false;   // guarded by mutex
        bool done = false;   // guarded by mutex: the writer has closed the file
        bool blocks = false;  // pcapng: a cut write is trimmed to whole blocks, not lines
        std::optional<QString> error;  // guarded by mutex
        int fd = -1;                   // the writer's while it runs
    };

    void begin(int fd, const QString& path, bool pcapng, std::uint64_t size);
    void append(const char* arrow, QStringView rendered);
    void appendBlock(const QByteArray& block);
    // Runs fill on what waits for the disk, unless the capture has failed or the disk stalls.
    template <typename Fill>
    void appendTo(Fill&& fill);
    [[nodiscard]] std::int64_t nowMicros() const;
    static void writerLoop(const std::shared_ptr<Shared>& shared);

    std::function<QDateTime()> m_now;  // empty: the wall clock, read cheaply
    FileWrite m_write;
    // The stamp up to the seconds' dot, made once a second: local time is costly to work out
    // and a flood brings hundreds of thousands of lines a second.
    qint64 m_stampSecond = -1;
    QByteArray m_stampPrefix;
    QString m_path;
    bool m_running = false;
    bool m_pcapng = false;
    std::function<CaptureInterface()> m_interface;
    std::atomic<std::uint64_t> m_size = 0;

    std::shared_ptr<Shared> m_shared;
    std::thread m_writer;
};
