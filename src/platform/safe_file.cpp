// SPDX-License-Identifier: MIT
#include "platform/safe_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <cstring>
#include <utility>

namespace {

FileOutcome failure(int error) {
    return {false, error, QString::fromLocal8Bit(std::strerror(error))};
}

FileOutcome refusal(const QString& reason) { return {false, 0, reason}; }

// Closes and removes the temporary file unless the rename has taken it over.
class TempFile {
public:
    TempFile() = default;
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() {
        if (m_fd >= 0) ::close(m_fd);
        if (!m_path.isEmpty()) ::unlink(m_path.constData());
    }

    bool create(const QByteArray& target, mode_t mode) {
        for (int attempt = 0; attempt < 16; ++attempt) {
            const QByteArray candidate =
                target + ".tmp-" +
                QByteArray::number(QRandomGenerator::global()->generate(), 16)
                    .rightJustified(8, '0');
            m_fd = ::open(candidate.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
            if (m_fd >= 0) {
                m_path = candidate;
                return true;
            }
            if (errno != EEXIST) return false;
        }
        return false;
    }

    [[nodiscard]] int fd() const { return m_fd; }
    [[nodiscard]] const QByteArray& path() const { return m_path; }

    bool close() {
        const int fd = std::exchange(m_fd, -1);
        return ::close(fd) == 0;
    }

    void release() { m_path.clear(); }

private:
    int m_fd = -1;
    QByteArray m_path;
};

QByteArray folderOf(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
}

void syncDirectory(const QByteArray& dir) {
    const int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);  // durability of the rename only; the new content is already in place
    ::close(fd);
}

// Owner and group one at a time: whoever may set only one of them still keeps that one.
void keepOwnership(int fd, const struct stat& old, const QByteArray& folder) {
    gid_t group = old.st_gid;
    struct stat dir {};
    if (::stat(folder.constData(), &dir) == 0 && (dir.st_mode & S_ISGID)) group = dir.st_gid;
    struct stat now {};
    if (::fstat(fd, &now) != 0) return;
    // Failures are expected: only root may give a file away, only members may set a group.
    if (now.st_uid != old.st_uid && ::fchown(fd, old.st_uid, static_cast<gid_t>(-1)) != 0) {
    }
    if (now.st_gid != group && ::fchown(fd, static_cast<uid_t>(-1), group) != 0) {
    }
}

// A descriptor opened with O_PATH shows what the path names without opening it (no driver
// runs, no FIFO waits); once it shows a regular file, that very file is opened through /proc,
// so nothing swapped in at the path meanwhile can be opened instead.
int reopenRegular(int pathFd, int flags, FileOutcome* why) {
    struct stat st {};
    if (::fstat(pathFd, &st) != 0) {
        *why = failure(errno);
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        *why = refusal(kNotARegularFile);
        return -1;
    }
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(pathFd);
    const int fd = ::open(self.constData(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) *why = failure(errno);
    return fd;
}

}  // namespace

const QString kNotARegularFile =
    QStringLiteral("通常のファイルではありません (not a regular file)");

FileRead readRegularFile(const QString& path) {
    FileRead result;
    const int pathFd = ::open(QFile::encodeName(path).constData(), O_PATH | O_CLOEXEC);
    if (pathFd < 0) {
        result.status = errno == ENOENT ? ReadStatus::Missing : ReadStatus::Failed;
        result.reason = QString::fromLocal8Bit(std::strerror(errno));
        return result;
    }
    FileOutcome why;
    const int fd = reopenRegular(pathFd, O_RDONLY, &why);
    ::close(pathFd);
    if (fd < 0) {
        result.reason = why.reason;
        return result;
    }
    {
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                result.reason = QString::fromLocal8Bit(std::strerror(errno));
                break;
            }
            if (n == 0) {
                result.status = ReadStatus::Read;
                break;
            }
            result.bytes.append(buffer, n);
        }
    }
    ::close(fd);
    if (result.status != ReadStatus::Read) result.bytes.clear();
    return result;
}

int openRegularForAppend(const QString& path, FileOutcome* why) {
    QByteArray target = QFile::encodeName(path);
    // Each round either opens, fails, or follows one link to a missing file; a path that keeps
    // changing under us ends as a loop.
    for (int round = 0; round < 40; ++round) {
        if (const int pathFd = ::open(target.constData(), O_PATH | O_CLOEXEC); pathFd >= 0) {
            const int fd = reopenRegular(pathFd, O_WRONLY | O_APPEND, why);
            ::close(pathFd);
            return fd;
        }
        if (errno != ENOENT) {
            *why = failure(errno);
            return -1;
        }
        // A new name: O_EXCL makes a file or fails, and never opens whatever is there.
        const int fd = ::open(target.constData(),
                              O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd >= 0) return fd;
        if (errno != EEXIST) {
            *why = failure(errno);
            return -1;
        }
        // A link to a missing file makes that file, as a plain open would; anything else
        // appeared meanwhile and is looked at again.
        struct stat st {};
        if (::lstat(target.constData(), &st) == 0 && S_ISLNK(st.st_mode)) {
            QByteArray link(4096, '\0');
            const ssize_t n = ::readlink(target.constData(), link.data(), 4096);
            if (n < 0) {
                *why = failure(errno);
                return -1;
            }
            link.truncate(n);
            target = link.startsWith('/') ? link : folderOf(target) + '/' + link;
        }
    }
    *why = failure(ELOOP);
    return -1;
}

bool writeAll(int fd, QByteArrayView data, qsizetype* written) {
    const char* p = data.data();
    qsizetype left = data.size();
    const auto done = [&](bool ok) {
        if (written) *written = data.size() - left;
        return ok;
    };
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return done(false);
        p += n;
        left -= n;
    }
    return done(true);
}

FileOutcome replaceFileContents(const QString& path, QByteArrayView data) {
    QByteArray target = QFile::encodeName(path);
    struct stat st {};
    if (::lstat(target.constData(), &st) == 0 && S_ISLNK(st.st_mode)) {
        const QString resolved = QFileInfo(path).canonicalFilePath();
        if (resolved.isEmpty()) return failure(ENOENT);
        target = QFile::encodeName(resolved);
    }
    const bool exists = ::stat(target.constData(), &st) == 0;
    if (!exists && errno != ENOENT) return failure(errno);
    if (exists && !S_ISREG(st.st_mode)) return refusal(kNotARegularFile);
    // A file the user made read-only stays as it is, though the folder would allow a rename;
    // also for root (sudo to reach a port), whom access() would let write anything.
    if (exists && ::access(target.constData(), W_OK) != 0) return failure(errno);
    if (exists && (st.st_mode & 0222) == 0) return failure(EACCES);

    const QByteArray folder = folderOf(target);
    TempFile temp;
    if (!temp.create(target, exists ? 0600 : 0666)) return failure(errno);
    if (exists) {
        keepOwnership(temp.fd(), st, folder);
        if (::fchmod(temp.fd(), st.st_mode & 07777) != 0) return failure(errno);
    }
    errno = 0;
    if (!writeAll(temp.fd(), data)) return failure(errno != 0 ? errno : EIO);
    if (::fsync(temp.fd()) != 0) return failure(errno);
    if (!temp.close()) return failure(errno);
    if (::rename(temp.path().constData(), target.constData()) != 0) return failure(errno);
    temp.release();
    syncDirectory(folder);
    return {true, 0, {}};
}
