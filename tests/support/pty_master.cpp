// SPDX-License-Identifier: MIT
// Uses termios2 from <asm/termbits.h>, so <termios.h> must stay out of this file.
#include "support/pty_master.h"

#include <asm/termbits.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

namespace ptytest {

namespace {

using Clock = std::chrono::steady_clock;

// Waits for fd to become readable; false on timeout or when it only reports a hangup.
bool waitReadable(int fd, std::chrono::milliseconds timeout) {
    pollfd entry{fd, POLLIN, 0};
    int ready = 0;
    do {
        ready = ::poll(&entry, 1, static_cast<int>(timeout.count()));
    } while (ready < 0 && errno == EINTR);
    return ready > 0 && (entry.revents & POLLIN) != 0;
}

// Appends what one read(2) gives; false when nothing more can come (EOF, EIO, ...).
bool readOnce(int fd, std::vector<std::uint8_t>* out, std::size_t limit) {
    std::uint8_t chunk[4096];
    const std::size_t want = limit < sizeof chunk ? limit : sizeof chunk;
    ssize_t got = 0;
    do {
        got = ::read(fd, chunk, want);
    } while (got < 0 && errno == EINTR);
    if (got < 0 && errno == EAGAIN) return true;
    if (got <= 0) return false;
    out->insert(out->end(), chunk, chunk + got);
    return true;
}

std::chrono::milliseconds leftUntil(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? left : std::chrono::milliseconds(0);
}

}  // namespace

std::optional<MasterLine> readMasterLine(int masterFd) {
    termios2 line{};
    if (::ioctl(masterFd, TCGETS2, &line) != 0) return std::nullopt;
    MasterLine result;
    result.inputSpeed = line.c_ispeed;
    result.outputSpeed = line.c_ospeed;
    result.twoStopBits = (line.c_cflag & CSTOPB) != 0;
    result.receiverOn = (line.c_cflag & CREAD) != 0;
    result.ignoresModem = (line.c_cflag & CLOCAL) != 0;
    result.hardwareFlow = (line.c_cflag & CRTSCTS) != 0;
    result.softwareFlow = (line.c_iflag & (IXON | IXOFF | IXANY)) != 0;
    result.canonical = (line.c_lflag & ICANON) != 0;
    result.echoes = (line.c_lflag & (ECHO | ECHOE | ECHOK | ECHONL)) != 0;
    result.signals = (line.c_lflag & ISIG) != 0;
    result.translatesInput = (line.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP)) != 0;
    result.processesOutput = (line.c_oflag & OPOST) != 0;
    result.vmin = line.c_cc[VMIN];
    result.vtime = line.c_cc[VTIME];
    return result;
}

bool makeCooked(int masterFd) {
    termios2 line{};
    if (::ioctl(masterFd, TCGETS2, &line) != 0) return false;
    line.c_iflag |= ICRNL | IXON | IXOFF;
    line.c_oflag |= OPOST | ONLCR;
    line.c_lflag |= ICANON | ECHO | ECHOE | ECHOK | ISIG | IEXTEN;
    line.c_cflag |= CRTSCTS;
    line.c_cc[VMIN] = 1;
    line.c_cc[VTIME] = 5;
    return ::ioctl(masterFd, TCSETS2, &line) == 0;
}

std::vector<std::uint8_t> readBytes(int fd, std::size_t count, std::chrono::milliseconds timeout) {
    std::vector<std::uint8_t> out;
    const auto deadline = Clock::now() + timeout;
    while (out.size() < count) {
        if (!waitReadable(fd, leftUntil(deadline))) break;
        if (!readOnce(fd, &out, count - out.size())) break;
    }
    return out;
}

std::vector<std::uint8_t> readAvailable(int fd, std::chrono::milliseconds quiet) {
    std::vector<std::uint8_t> out;
    while (waitReadable(fd, quiet)) {
        if (!readOnce(fd, &out, SIZE_MAX)) break;
    }
    return out;
}

bool writeAll(int fd, const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (put > 0) {
            done += static_cast<std::size_t>(put);
            continue;
        }
        if (put < 0 && errno == EINTR) continue;
        if (put < 0 && errno != EAGAIN) return false;
        pollfd entry{fd, POLLOUT, 0};
        if (::poll(&entry, 1, 1000) <= 0) return false;
    }
    return true;
}

std::size_t fillUntilStalled(int slaveFd, std::uint8_t byte) {
    const std::vector<std::uint8_t> chunk(1024, byte);
    std::size_t total = 0;
    for (;;) {
        ssize_t put = 0;
        while ((put = ::write(slaveFd, chunk.data(), chunk.size())) > 0)
            total += static_cast<std::size_t>(put);
        if (put < 0 && errno != EAGAIN && errno != EINTR) return total;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        put = ::write(slaveFd, chunk.data(), 1);
        if (put < 0 && errno == EAGAIN) return total;
        if (put > 0) ++total;
    }
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace ptytest
