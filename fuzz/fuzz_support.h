// SPDX-License-Identifier: MIT
#pragma once
// Shared by the fuzz targets: a property check that names what failed before it aborts (so a
// crash report says which property broke, not only where), and a private scratch folder for the
// cores that only read or write files by path.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <fcntl.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#define FUZZ_CHECK(cond)                                                                       \
    do {                                                                                       \
        if (!(cond)) {                                                                         \
            std::fprintf(stderr, "%s:%d: property violated: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (false)

namespace fuzz {

// A folder made once per process, under $NORVALE_FUZZ_TMP when bench/fuzz sets it, else in
// /dev/shm (memory, so the thousands of writes a second never reach a disk), else /tmp.
// libFuzzer ends with _Exit(), so no exit handler can remove it; instead its name carries the
// process id, and each new process removes the folders of processes that are gone. bench/fuzz
// also removes the whole of $NORVALE_FUZZ_TMP when it is done.
class ScratchDir {
public:
    static const ScratchDir& instance() {
        static const ScratchDir dir;
        return dir;
    }

    // A path inside the folder; the file itself is not created.
    [[nodiscard]] QString path(const char* name) const {
        return QString::fromStdString(m_path + "/" + name);
    }

private:
    static constexpr std::string_view kPrefix = "norvale-fuzz-";

    ScratchDir() {
        std::string base;
        if (const char* env = std::getenv("NORVALE_FUZZ_TMP"); env && *env) {
            base = env;
        } else if (::access("/dev/shm", W_OK) == 0) {
            base = "/dev/shm";
        } else {
            base = "/tmp";
        }
        removeAbandoned(base);
        std::string tmpl =
            base + "/" + std::string(kPrefix) + std::to_string(::getpid()) + ".XXXXXX";
        if (::mkdtemp(tmpl.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        m_path = tmpl;
    }

    // Folders named "norvale-fuzz-<pid>.XXXXXX" whose process no longer exists.
    static void removeAbandoned(const std::string& base) {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(base, error)) {
            const std::string name = entry.path().filename().string();
            if (!name.starts_with(kPrefix)) continue;
            const std::string rest = name.substr(kPrefix.size());
            const std::size_t dot = rest.find('.');
            if (dot == 0 || dot == std::string::npos ||
                rest.find_first_not_of("0123456789") != dot) {
                continue;
            }
            const auto pid = static_cast<pid_t>(std::stol(rest.substr(0, dot)));
            if (::kill(pid, 0) == 0 || errno != ESRCH) continue;
            std::error_code ignored;
            std::filesystem::remove_all(entry.path(), ignored);
        }
    }

    std::string m_path;
};

// Replaces the file's contents with data; aborts when that fails, since every later check would
// then be about the wrong bytes.
inline void writeFile(const QString& path, QByteArrayView data) {
    const QByteArray name = path.toLocal8Bit();
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    FUZZ_CHECK(fd >= 0);
    const char* p = data.data();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        FUZZ_CHECK(n > 0);
        p += n;
        left -= n;
    }
    FUZZ_CHECK(::close(fd) == 0);
}

inline QByteArray readFile(const QString& path) {
    QByteArray out;
    const QByteArray name = path.toLocal8Bit();
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    FUZZ_CHECK(fd >= 0);
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        FUZZ_CHECK(n >= 0);
        if (n == 0) break;
        out.append(buffer, n);
    }
    ::close(fd);
    return out;
}

// Bytes as a QString read one of three ways: Latin-1 (every byte one character, the way hex texts
// and rendered units look), UTF-8 (malformed sequences included) or raw UTF-16 units (lone
// surrogates and characters outside the BMP included).
inline QString textFrom(QByteArrayView bytes, std::uint8_t how) {
    switch (how % 3) {
        case 0:
            return QString::fromLatin1(bytes);
        case 1:
            return QString::fromUtf8(bytes);
        default:
            break;
    }
    QString text;
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2) {
        const auto lo = static_cast<std::uint8_t>(bytes[i]);
        const auto hi = static_cast<std::uint8_t>(bytes[i + 1]);
        text.append(QChar(static_cast<char16_t>(lo | (hi << 8))));
    }
    return text;
}

// A text of up to maxLength bytes of the input, read as textFrom() says.
inline QString consumeText(FuzzedDataProvider& input, std::size_t maxLength) {
    const auto how = input.ConsumeIntegral<std::uint8_t>();
    const std::string bytes = input.ConsumeRandomLengthString(maxLength);
    return textFrom(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())), how);
}

}  // namespace fuzz
