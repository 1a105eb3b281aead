// SPDX-License-Identifier: MIT
#include "session/capture.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

#include "platform/safe_file.h"
#include "core/pcapng_blocks.h"
#include "core/unit_render.h"

namespace {

// Past this much waiting the writer is woken at once instead of at its next round.
constexpr qsizetype kEagerBytes = 256 * 1024;

QString errnoText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

// prefix is the stamp up to the seconds' dot; the line ends in CR LF.
// arrow: "=>" received, "<=" sent, "##" a note of the session's own.
void appendLine(QByteArray& out, const QByteArray& prefix, int milli, const char* arrow,
                QStringView rendered) {
    // Rendered hex is ASCII; only mixed rendering may hold other characters.
    const bool ascii =
        std::all_of(rendered.begin(), rendered.end(), [](QChar c) { return c.unicode() < 0x80; });
    const QByteArray other = ascii ? QByteArray() : rendered.toUtf8();
    const qsizetype body = ascii ? rendered.size() : other.size();
    const qsizetype at = out.size();
    out.resize(at + prefix.size() + 6 + body + 2);
    char* p = out.data() + at;
    p = std::copy(prefix.begin(), prefix.end(), p);
    *p++ = static_cast<char>('0' + milli / 100);
    *p++ = static_cast<char>('0' + milli / 10 % 10);
    *p++ = static_cast<char>('0' + milli % 10);
    *p++ = ' ';
    *p++ = arrow[0];
    *p++ = arrow[1];
    if (ascii) {
        for (const QChar c : rendered) *p++ = static_cast<char>(c.unicode());
    } else {
        p = std::copy(other.begin(), other.end(), p);
    }
    *p++ = '\r';
    *p = '\n';
}

// A write cut short (a full disk) leaves part of a line at the end of the file: it is cut back
// to the last whole line, so that the file holds whole lines and a later capture appended to
// it starts on a line of its own. The chunk holds whole lines only.
void cutToWholeLine(int fd, const QByteArray& chunk, qsizetype written) {
    if (written <= 0 || written >= chunk.size()) return;
    const qsizetype keep = chunk.lastIndexOf('\n', written - 1) + 1;
    if (keep == written) return;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_size < written - keep) return;
    if (::ftruncate(fd, st.st_size - (written - keep)) != 0) {
        // Nothing better to do: the reason for the stop is already the write's.
    }
}

// As cutToWholeLine for a chunk of pcapng blocks: each block's length is at its bytes 4 to 7.
void cutToWholeBlock(int fd, const QByteArray& chunk, qsizetype written) {
    if (written <= 0 || written >= chunk.size()) return;
    qsizetype keep = 0;
    while (keep + 8 <= chunk.size()) {
        const auto* p = reinterpret_cast<const unsigned char*>(chunk.constData() + keep + 4);
        const qsizetype length = p[0] | (p[1] << 8) | (p[2] << 16) | (qsizetype{p[3]} << 24);
        if (length <= 0 || keep + length > written) break;
        keep += length;
    }
    if (keep == written) return;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_size < written - keep) return;
    if (::ftruncate(fd, st.st_size - (written - keep)) != 0) {
        // As above.
    }
}

// A pcapng file cut inside a block (a process killed in the middle of a write, which the kernel
// may stop at any page) is cut back to its last whole block, so that a capture appended to it
// stays readable. A file that does not start with a section header is left as it is.
void trimToWholeBlocks(int fd, off_t size) {
    unsigned char head[8];
    off_t at = 0;
    while (at + 8 <= size) {
        if (::pread(fd, head, sizeof head, at) != static_cast<ssize_t>(sizeof head)) return;
        if (at == 0 && (head[0] != 0x0A || head[1] != 0x0D || head[2] != 0x0D || head[3] != 0x0A))
            return;
        const off_t length = head[4] | (head[5] << 8) | (head[6] << 16) | (off_t{head[7]} << 24);
        if (length < 12 || length % 4 != 0 || at + length > size) break;
        at += length;
    }
    if (at < size && at > 0 && ::ftruncate(fd, at) != 0) {
        // Left as it is: the new section still follows, and readers stop at the cut.
    }
}

}  // namespace

const QString Capture::kDiskStalled = QStringLiteral(
    "ディスクが書き込みを受け付けません。64 MB が待っています (the disk takes no more data: 64 MB "
    "are "
    "waiting)");

Capture::Capture(std::function<QDateTime()> now, FileWrite write)
    : m_now(std::move(now)), m_write(std::move(write)) {}

Capture::~Capture() { stop(); }

std::optional<QString> Capture::start(const QString& path) {
    stop();
    // Checked before anything is opened: a serial port would see its lines toggled, a FIFO
    // would hang the window.
    FileOutcome why;
    const int fd = openRegularForAppend(path, &why);
    if (fd < 0) return why.reason;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const QString reason = errnoText(errno);
        ::close(fd);
        return reason;
    }
    if (isPcapngPath(path) && st.st_size > 0) {
        trimToWholeBlocks(fd, st.st_size);
        if (::fstat(fd, &st) != 0) st.st_size = 0;
    }
    begin(fd, path, isPcapngPath(path), static_cast<std::uint64_t>(st.st_size));
    return std::nullopt;
}

void Capture::startPcapngStream(int fd, const QString& name) {
    stop();
    begin(fd, name, true, 0);
}

void Capture::begin(int fd, const QString& path, bool pcapng, std::uint64_t size) {
    auto shared = std::make_shared<Shared>();
    shared->write = m_write ? m_write : [](int to, QByteArrayView data, qsizetype* written) {
        return writeAll(to, data, written);
    };
    shared->fd = fd;
    m_pcapng = pcapng;
    shared->blocks = m_pcapng;
    m_shared = shared;
    m_path = path;
    m_size = size;
    m_running = true;
    if (m_pcapng) {
        // A capture appended to an older one starts a section of its own.
        const CaptureInterface port = m_interface ? m_interface() : CaptureInterface{};
        appendBlock(pcapng::sectionHeader(QStringLiteral("Norvale Term " NORVALE_VERSION)));
        appendBlock(pcapng::interfaceDescription(port.name, port.description, port.bitsPerSecond));
    }
    m_writer = std::thread([shared] { writerLoop(shared); });
}

void Capture::stop() {
    if (!m_writer.joinable()) return;
    m_running = false;
    bool ended = false;
    {
        std::unique_lock lock(m_shared->mutex);
        m_shared->stop = true;
        m_shared->wake.notify_one();
        ended = m_shared->ended.wait_for(lock, std::chrono::milliseconds(kStopWaitMs),
                                         [this] { return m_shared->done; });
    }
    // A writer stuck in a stalled disk is left to finish on its own: the window must close.
    if (ended) {
        m_writer.join();
    } else {
        m_writer.detach();
    }
}

std::optional<QString> Capture::error() const {
    if (!m_shared) return std::nullopt;
    const std::lock_guard lock(m_shared->mutex);
    return m_shared->error;
}

QByteArray Capture::line(const QDateTime& at, bool received, const QString& rendered) {
    QByteArray out;
    appendLine(out, at.toString(QStringLiteral("yyyy/MM/dd hh:mm:ss.")).toUtf8(), at.time().msec(),
               received ? "=>" : "<=", rendered);
    return out;
}

bool Capture::isPcapngPath(const QString& path) {
    return path.endsWith(QStringLiteral(".pcapng"), Qt::CaseInsensitive);
}

template <typename Fill>
void Capture::appendTo(Fill&& fill) {
    bool eager = false;
    qsizetype added = 0;
    Shared& shared = *m_shared;
    {
        const std::lock_guard lock(shared.mutex);
        if (shared.error) return;
        if (shared.pending.size() >= kMaxPending) {
            // The disk has stopped taking data: the capture ends rather than the memory.
            shared.error = kDiskStalled;
            return;
        }
        const qsizetype before = shared.pending.size();
        fill(shared.pending);
        added = shared.pending.size() - before;
        eager = shared.pending.size() >= kEagerBytes;
    }
    m_size += static_cast<std::uint64_t>(added);
    if (eager) shared.wake.notify_one();
}

void Capture::received(const QString& rendered, std::span<const std::uint8_t> unit) {
    if (!m_running) return;
    if (m_pcapng) {
        const std::int64_t micros = nowMicros();
        const QByteArrayView bytes(reinterpret_cast<const char*>(unit.data()),
                                   static_cast<qsizetype>(unit.size()));
        appendTo([&](QByteArray& pending) {
            pcapng::appendEnhancedPacket(pending, 0, micros, bytes,
                                         pcapng::PacketDirection::Inbound);
        });
        return;
    }
    append("=>", rendered);
}

void Capture::note(const QString& text) {
    if (!m_running) return;
    if (m_pcapng) {
        appendBlock(pcapng::enhancedPacket(0, nowMicros(), {}, pcapng::PacketDirection::Unknown,
                                           text));
        return;
    }
    append("##", QStringLiteral(" ") + text);
}

void Capture::sent(const QByteArray& frame) {
    if (!m_running) return;
    if (m_pcapng) {
        appendBlock(
            pcapng::enhancedPacket(0, nowMicros(), frame, pcapng::PacketDirection::Outbound));
        return;
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(frame.constData());
    append("<=", renderHex({bytes, static_cast<std::size_t>(frame.size())}));
}

void Capture::append(const char* arrow, QStringView rendered) {
    const qint64 ms = m_now ? m_now().toMSecsSinceEpoch() : QDateTime::currentMSecsSinceEpoch();
    const qint64 second = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
    if (second != m_stampSecond) {
        m_stampSecond = second;
        m_stampPrefix = QDateTime::fromMSecsSinceEpoch(second * 1000)
                            .toString(QStringLiteral("yyyy/MM/dd hh:mm:ss."))
                            .toUtf8();
    }
    const int milli = static_cast<int>(ms - second * 1000);
    appendTo([&](QByteArray& pending) {
        appendLine(pending, m_stampPrefix, milli, arrow, rendered);
    });
}

std::int64_t Capture::nowMicros() const {
    if (m_now) return m_now().toMSecsSinceEpoch() * 1000;
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void Capture::appendBlock(const QByteArray& block) {
    appendTo([&](QByteArray& pending) { pending.append(block); });
}

void Capture::writerLoop(const std::shared_ptr<Shared>& shared) {
    // Named, so that top and perf tell the capture's writing apart from the window's work.
    pthread_setname_np(pthread_self(), "capture");
    Shared& s = *shared;
    std::unique_lock lock(s.mutex);
    for (;;) {
        s.wake.wait_for(lock, std::chrono::milliseconds(kFlushMs),
                        [&s] { return s.stop || s.pending.size() >= kEagerBytes; });
        QByteArray chunk = std::exchange(s.pending, std::exchange(s.spare, {}));
        const bool stopping = s.stop;
        lock.unlock();
        std::optional<QString> failure;
        if (!chunk.isEmpty()) {
            errno = 0;
            qsizetype written = 0;
            if (!s.write(s.fd, chunk, &written)) {
                failure = errnoText(errno != 0 ? errno : EIO);
                if (s.blocks) {
                    cutToWholeBlock(s.fd, chunk, written);
                } else {
                    cutToWholeLine(s.fd, chunk, written);
                }
            }
        }
        if (stopping || failure) {
            if (::close(s.fd) != 0 && !failure) failure = errnoText(errno);
            s.fd = -1;
        }
        chunk.resize(0);
        lock.lock();
        s.spare = std::move(chunk);
        if (failure) {
            s.error = failure;
            s.pending.clear();
        }
        if (stopping || failure) {
            s.done = true;
            s.ended.notify_all();
            return;
        }
    }
}
