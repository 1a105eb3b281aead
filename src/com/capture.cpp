// SPDX-License-Identifier: MIT
#include "com/capture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
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

}  // namespace

Capture::Capture(std::function<QDateTime()> now) : m_now(std::move(now)) {
    if (!m_now) m_now = [] { return QDateTime::currentDateTime(); };
}

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
    QByteArray out = at.toString(QStringLiteral("yyyy/MM/dd hh:mm:ss.zzz")).toUtf8();
    out += received ? " =>" : " <=";
    out += rendered.toUtf8();
    out += "\r\n";
    return out;
}

void Capture::received(const QString& rendered) {
    if (m_running) append(line(m_now(), true, rendered));
}

void Capture::sent(const QByteArray& frame) {
    if (!m_running) return;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(frame.constData());
    append(line(m_now(), false, renderHex({bytes, static_cast<std::size_t>(frame.size())})));
}

void Capture::append(const QByteArray& text) {
    bool eager = false;
    {
        const std::lock_guard lock(m_mutex);
        if (m_error) return;
        m_pending += text;
        eager = m_pending.size() >= kEagerBytes;
    }
    m_size += static_cast<std::uint64_t>(text.size());
    if (eager) m_wake.notify_one();
}

void Capture::writerLoop() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait_for(lock, std::chrono::milliseconds(kFlushMs),
                        [this] { return m_stop || m_pending.size() >= kEagerBytes; });
        QByteArray chunk = std::exchange(m_pending, {});
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
        lock.lock();
        if (failure) {
            m_error = failure;
            m_pending.clear();
            return;
        }
        if (stopping) return;
    }
}
