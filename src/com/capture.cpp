// SPDX-License-Identifier: MIT
#include "com/capture.h"

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

#include "com/safe_file.h"
#include "com/unit_render.h"

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

}  // namespace

Capture::Capture(std::function<QDateTime()> now) : m_now(std::move(now)) {}

Capture::~Capture() { stop(); }

std::optional<QString> Capture::start(const QString& path) {
    stop();
    // Without waiting: a FIFO at the path must not hang the window.
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    if (fd < 0) return errnoText(errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = errno;
        ::close(fd);
        return S_ISREG(st.st_mode) ? errnoText(error) : kNotARegularFile;
    }
    m_fd = fd;
    m_path = path;
    m_size = static_cast<std::uint64_t>(st.st_size);
    {
        const std::lock_guard lock(m_mutex);
        m_pending.clear();
        m_stop = false;
        m_error.reset();
    }
    m_running = true;
    m_writer = std::thread([this] { writerLoop(); });
    return std::nullopt;
}

void Capture::stop() {
    if (!m_writer.joinable()) return;
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_one();
    m_writer.join();
    m_running = false;
}

std::optional<QString> Capture::error() const {
    const std::lock_guard lock(const_cast<std::mutex&>(m_mutex));
    return m_error;
}

QByteArray Capture::line(const QDateTime& at, bool received, const QString& rendered) {
    QByteArray out;
    appendLine(out, at.toString(QStringLiteral("yyyy/MM/dd hh:mm:ss.")).toUtf8(), at.time().msec(),
               received ? "=>" : "<=", rendered);
    return out;
}

void Capture::received(const QString& rendered) {
    if (m_running) append("=>", rendered);
}

void Capture::note(const QString& text) {
    if (m_running) append("##", QStringLiteral(" ") + text);
}

void Capture::sent(const QByteArray& frame) {
    if (!m_running) return;
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
    bool eager = false;
    qsizetype added = 0;
    {
        const std::lock_guard lock(m_mutex);
        if (m_error) return;
        const qsizetype before = m_pending.size();
        appendLine(m_pending, m_stampPrefix, milli, arrow, rendered);
        added = m_pending.size() - before;
        eager = m_pending.size() >= kEagerBytes;
    }
    m_size += static_cast<std::uint64_t>(added);
    if (eager) m_wake.notify_one();
}

void Capture::writerLoop() {
    // Named, so that top and perf tell the capture's writing apart from the window's work.
    pthread_setname_np(pthread_self(), "capture");
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait_for(lock, std::chrono::milliseconds(kFlushMs),
                        [this] { return m_stop || m_pending.size() >= kEagerBytes; });
        QByteArray chunk = std::exchange(m_pending, std::exchange(m_spare, {}));
        const bool stopping = m_stop;
        lock.unlock();
        std::optional<QString> failure;
        if (!chunk.isEmpty()) {
            errno = 0;
            if (!writeAll(m_fd, chunk)) failure = errnoText(errno != 0 ? errno : EIO);
        }
        if (stopping || failure) {
            if (::close(m_fd) != 0 && !failure) failure = errnoText(errno);
            m_fd = -1;
        }
        chunk.resize(0);
        lock.lock();
        m_spare = std::move(chunk);
        if (failure) {
            m_error = failure;
            m_pending.clear();
            return;
        }
        if (stopping) return;
    }
}
