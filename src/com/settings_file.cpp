// File access goes straight to POSIX: the atomic replace needs fsync before rename, and must
// refuse to rename over a directory or device that happens to sit at the settings path, which
// QSaveFile does not check.
#include "com/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "com/cp932.h"
#include "com/ini_document.h"
#include "com/profile_text.h"

namespace {

constexpr const char* kComPort = "COMPORT";
constexpr const char* kQlUnit = "QL-UNIT";

enum class ReadStatus { Missing, Read, Failed };

struct FileRead {
    ReadStatus status = ReadStatus::Failed;
    QByteArray bytes;
};

FileRead readRegularFile(const QByteArray& path) {
    // O_NONBLOCK so a FIFO at the path cannot hang us; it has no effect on regular files.
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return {errno == ENOENT ? ReadStatus::Missing : ReadStatus::Failed, {}};
    FileRead result;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        char buffer[8192];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) break;
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

void syncDirectory(const QByteArray& dir) {
    const int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);  // durability of the rename only; the new content is already in place
    ::close(fd);
}

// A text as the file stores it; nullopt when it has none, including texts with a line break or
// NUL, which would split the line or cut the value short for other readers of the file.
std::optional<QByteArray> storedText(const QString& text) {
    std::optional<QByteArray> bytes = toCp932(text);
    if (bytes && (bytes->contains('\r') || bytes->contains('\n') || bytes->contains('\0'))) {
        return std::nullopt;
    }
    // Reading trims blanks around a value and strips one pair of quotes; a value that would
    // lose either is written in double quotes, which a reader (ours or another program's) strips
    // again.
    if (bytes && !bytes->isEmpty()) {
        const char first = bytes->front();
        const char last = bytes->back();
        const auto blank = [](char c) { return c == ' ' || c == '\t'; };
        const bool quoted = bytes->size() >= 2 && first == last && (first == '"' || first == '\'');
        if (blank(first) || blank(last) || quoted) *bytes = '"' + *bytes + '"';
    }
    return bytes;
}

QByteArray hexByte(std::uint8_t v) {
    return QByteArray::number(v, 16).toUpper().rightJustified(2, '0');
}

QByteArray idText(std::uint8_t hi, std::uint8_t lo) { return "0x" + hexByte(hi) + hexByte(lo); }

void readId(const IniDocument& doc, const char* key, std::uint8_t& hi, std::uint8_t& lo) {
    const std::optional<QByteArray> text = doc.value(kQlUnit, key);
    if (!text) return;
    const auto id = static_cast<std::uint32_t>(strToInt(*text).value_or(0));
    hi = static_cast<std::uint8_t>((id >> 8) & 0xFF);
    lo = static_cast<std::uint8_t>(id & 0xFF);
}

}  // namespace

QString settingsPathFor(const QString& executablePath) {
    const qsizetype slash = executablePath.lastIndexOf(u'/');
    const qsizetype dot = executablePath.lastIndexOf(u'.');
    if (dot > slash + 1) return executablePath.left(dot) + QStringLiteral(".ini");
    return executablePath + QStringLiteral(".ini");
}

Settings loadSettings(const QString& path) {
    Settings s;
    const FileRead file = readRegularFile(QFile::encodeName(path));
    if (file.status != ReadStatus::Read) return s;
    const IniDocument doc = IniDocument::parse(file.bytes);

    // An empty stored text is a value; only a missing key falls back to the default.
    auto text = [&doc](const char* key, QString& field) {
        if (const auto v = doc.value(kComPort, key)) field = fromCp932(*v);
    };
    auto integer = [&doc](const char* section, const char* key, int& field) {
        field = profileInt(doc.value(section, key), field);
    };

    LinkSettings& link = s.link;
    text("PortName", link.portName);
    integer(kComPort, "BaudRate", link.baudRate);
    integer(kComPort, "ByteSize", link.dataBits);
    integer(kComPort, "StopBits", link.stopBits);
    text("Parity__", link.parity);
    text("SendHead", link.sendHead);
    text("SendDlmt", link.sendDlmt);
    text("RecvHead", link.recvHead);
    text("RecvDlmt", link.recvDlmt);
    integer(kComPort, "RecvTout", link.recvTimeoutMs);
    // The file counts bytes; each byte renders as four characters. Widened so a huge stored
    // count saturates instead of overflowing.
    const int lineBytes = profileInt(doc.value(kComPort, "LFSize__"), link.lineWidth / 4);
    // Clamped in whole bytes, so that what is saved reads back as the same width.
    constexpr int kMaxLineBytes = std::numeric_limits<int>::max() / 4;
    link.lineWidth = std::clamp(lineBytes, -kMaxLineBytes, kMaxLineBytes) * 4;

    ModuleSettings& module = s.module;
    integer(kQlUnit, "RFch____", module.rfCh);
    integer(kQlUnit, "RFpw____", module.rfPw);
    readId(doc, "SysID___", module.sysIdHi, module.sysIdLo);
    readId(doc, "ProID___", module.proIdHi, module.proIdLo);
    return s;
}

bool saveSettings(const QString& path, const Settings& settings) {
    const LinkSettings& link = settings.link;
    const ModuleSettings& module = settings.module;

    const FileRead existing = readRegularFile(QFile::encodeName(path));
    if (existing.status == ReadStatus::Failed) return false;
    IniDocument doc = IniDocument::parse(existing.bytes);

    std::vector<std::pair<const char*, QByteArray>> comPort;
    auto text = [&comPort, &doc](const char* key, const QString& value) {
        // A text still as the file holds it keeps its exact bytes, even bytes that have no
        // code page 932 meaning and so decode to a stand-in character.
        if (const auto stored = doc.value(kComPort, key); stored && fromCp932(*stored) == value)
            return true;
        std::optional<QByteArray> bytes = storedText(value);
        if (!bytes) return false;
        comPort.emplace_back(key, std::move(*bytes));
        return true;
    };
    auto integer = [&comPort](const char* key, int value) {
        comPort.emplace_back(key, QByteArray::number(value));
        return true;
    };
    const bool encoded = text("PortName", link.portName) && integer("BaudRate", link.baudRate) &&
                         integer("ByteSize", link.dataBits) && integer("StopBits", link.stopBits) &&
                         text("Parity__", link.parity) && text("SendHead", link.sendHead) &&
                         text("SendDlmt", link.sendDlmt) && text("RecvHead", link.recvHead) &&
                         text("RecvDlmt", link.recvDlmt) &&
                         integer("RecvTout", link.recvTimeoutMs) &&
                         integer("LFSize__", link.lineWidth / 4);
    if (!encoded) return false;

    for (const auto& [key, value] : comPort) doc.setValue(kComPort, key, value);
    doc.setValue(kQlUnit, "RFch____", QByteArray::number(module.rfCh));
    doc.setValue(kQlUnit, "RFpw____", QByteArray::number(module.rfPw));
    doc.setValue(kQlUnit, "SysID___", idText(module.sysIdHi, module.sysIdLo));
    doc.setValue(kQlUnit, "ProID___", idText(module.proIdHi, module.proIdLo));
    return replaceFileContents(path, doc.toBytes());
}

bool writeAll(int fd, QByteArrayView data) {
    const char* p = data.data();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        left -= n;
    }
    return true;
}

bool replaceFileContents(const QString& path, QByteArrayView data) {
    QByteArray target = QFile::encodeName(path);
    struct stat st {};
    if (::lstat(target.constData(), &st) == 0 && S_ISLNK(st.st_mode)) {
        const QString resolved = QFileInfo(path).canonicalFilePath();
        if (resolved.isEmpty()) return false;
        target = QFile::encodeName(resolved);
    }
    const bool exists = ::stat(target.constData(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) return false;
    if (!exists && errno != ENOENT) return false;
    // A file the user made read-only stays as it is, though the folder would allow a rename;
    // also for root (sudo to reach a port), whom access() would let write anything.
    if (exists && (::access(target.constData(), W_OK) != 0 || (st.st_mode & 0222) == 0))
        return false;

    TempFile temp;
    if (!temp.create(target, exists ? 0600 : 0666)) return false;
    if (exists) {
        if ((st.st_uid != ::geteuid() || st.st_gid != ::getegid()) &&
            ::fchown(temp.fd(), st.st_uid, st.st_gid) != 0) {
            // Only root may give a file away; for anyone else the new file stays theirs.
        }
        if (::fchmod(temp.fd(), st.st_mode & 07777) != 0) return false;
    }
    if (!writeAll(temp.fd(), data) || ::fsync(temp.fd()) != 0 || !temp.close()) return false;
    if (::rename(temp.path().constData(), target.constData()) != 0) return false;
    temp.release();

    const qsizetype slash = target.lastIndexOf('/');
    syncDirectory(slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : target.left(slash));
    return true;
}
