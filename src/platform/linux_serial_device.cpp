// SPDX-License-Identifier: MIT
// termios2 lives in <asm/termbits.h>, whose struct termios clashes with glibc's; this file
// must therefore never include <termios.h>, directly or through another header.
#include "platform/linux_serial_device.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "platform/serial_port_node.h"

// Linux sizes a tty's buffers inside the kernel and offers no call to change them, so the
// driver queue sizes the link would like are not asked for.

namespace {

int ioctlRetrying(int fd, unsigned long request, void* arg) {
    int result = 0;
    do {
        result = ::ioctl(fd, request, arg);
    } while (result < 0 && errno == EINTR);
    return result;
}

int modemLines(int fd, unsigned long request, int lines) {
    return ioctlRetrying(fd, request, &lines);
}

tcflag_t dataBitsFlag(int dataBits) {
    switch (dataBits) {
        case 5:
            return CS5;
        case 6:
            return CS6;
        case 7:
            return CS7;
        default:
            return CS8;
    }
}

int dataBitsOf(tcflag_t cflag) {
    switch (cflag & CSIZE) {
        case CS5:
            return 5;
        case CS6:
            return 6;
        case CS7:
            return 7;
        default:
            return 8;
    }
}

SerialError invalidParams(const std::string& devicePath, const std::string& what) {
    return {SerialErrorKind::Other, EINVAL, "line settings for " + devicePath + ": " + what};
}

SerialError checkParams(const LineParams& params, const std::string& devicePath) {
    if (params.baud == 0) return invalidParams(devicePath, "baud rate 0");
    if (params.dataBits < 5 || params.dataBits > 8) {
        return invalidParams(devicePath, std::to_string(params.dataBits) + " data bits");
    }
    if (params.stopBits != 1 && params.stopBits != 2) {
        return invalidParams(devicePath, std::to_string(params.stopBits) + " stop bits");
    }
    return {};
}

// Raw 8-bit-clean line: nothing translated, echoed, or interpreted as a signal or flow
// control, and reads return whatever is there without waiting.
termios2 rawLine(termios2 line, const LineParams& params) {
    line.c_iflag &= ~(IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR | IGNCR | ICRNL |
                      IUCLC | IXON | IXANY | IXOFF | IMAXBEL | IUTF8);
    line.c_oflag &= ~OPOST;
    line.c_lflag &= ~(ISIG | ICANON | XCASE | ECHO | ECHOE | ECHOK | ECHONL | ECHOCTL | ECHOPRT |
                      ECHOKE | IEXTEN | TOSTOP);
    line.c_cflag &= ~(CBAUD | CIBAUD | CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
    line.c_cflag |= CLOCAL | CREAD | dataBitsFlag(params.dataBits);
    if (params.parity != Parity::None) line.c_cflag |= PARENB;
    if (params.parity == Parity::Odd) line.c_cflag |= PARODD;
    if (params.stopBits == 2) line.c_cflag |= CSTOPB;
    // BOTHER takes the rate as a number for both directions, so rates without a Bxxx
    // constant (56000, 76800) go through the same path as the common ones.
    line.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    line.c_ispeed = params.baud;
    line.c_ospeed = params.baud;
    line.c_cc[VMIN] = 0;
    line.c_cc[VTIME] = 0;
    return line;
}

LineParams paramsOf(const termios2& line) {
    LineParams params;
    params.baud = line.c_ospeed;
    params.dataBits = dataBitsOf(line.c_cflag);
    if ((line.c_cflag & PARENB) != 0) {
        params.parity = (line.c_cflag & PARODD) != 0 ? Parity::Odd : Parity::Even;
    }
    params.stopBits = (line.c_cflag & CSTOPB) != 0 ? 2 : 1;
    return params;
}

// Follows every symlink (orlin-sim's link, /dev/serial/by-id) to the node itself, and
// refuses what is not a serial port before anything opens it.
SerialError resolveSerialNode(const std::string& devicePath, std::string* resolved) {
    const std::unique_ptr<char, decltype(&std::free)> real(::realpath(devicePath.c_str(), nullptr),
                                                           &std::free);
    if (!real) return serialErrorFromErrno(errno, "open", devicePath);
    struct stat node {};
    if (::stat(real.get(), &node) != 0) return serialErrorFromErrno(errno, "open", devicePath);
    static const SysfsCharDeviceInfo kernelDevices;
    if (const auto why = whyNotASerialPort(node, kernelDevices)) {
        return {
            SerialErrorKind::NotATty, ENOTTY,
            "シリアルポートではありません (" + devicePath + " is not a serial port: " + *why + ")"};
    }
    *resolved = real.get();
    return {};
}

// What a tty answers once its device is gone: a hangup shows as EIO, an unplugged adapter
// as ENODEV.
bool isGoneErrno(int errnoValue) { return errnoValue == EIO || errnoValue == ENODEV; }

}  // namespace

bool hangupSeen(int fd, bool peerShutdown) {
    const short rdhup = peerShutdown ? POLLRDHUP : 0;
    pollfd entry{fd, static_cast<short>(POLLIN | rdhup), 0};
    int ready = 0;
    do {
        ready = ::poll(&entry, 1, 0);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) return true;
    return (entry.revents & (POLLHUP | POLLERR | POLLNVAL | rdhup)) != 0;
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
}

int UniqueFd::release() { return std::exchange(m_fd, -1); }

void UniqueFd::reset(int fd) {
    const int old = std::exchange(m_fd, fd);
    // No retry on EINTR: Linux frees the descriptor even then, and a retry could close
    // one another thread has just been given.
    if (old >= 0) static_cast<void>(::close(old));
}

SerialError serialErrorFromErrno(int errnoValue, const std::string& step,
                                 const std::string& target) {
    SerialError error;
    error.errnoValue = errnoValue;
    error.message = step + " " + target + ": " + std::strerror(errnoValue);
    switch (errnoValue) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            error.kind = SerialErrorKind::NotFound;
            break;
        case EACCES:
        case EPERM:
            error.kind = SerialErrorKind::PermissionDenied;
            break;
        case EBUSY:
        case EWOULDBLOCK:  // flock held by another program
            error.kind = SerialErrorKind::InUse;
            break;
        case ENOTTY:
            error.kind = SerialErrorKind::NotATty;
            break;
        default:
            error.kind = SerialErrorKind::Other;
            break;
    }
    return error;
}

struct LinuxSerialDevice::SavedLine {
    termios2 line;
};

LinuxSerialDevice::LinuxSerialDevice() = default;

LinuxSerialDevice::~LinuxSerialDevice() { close(); }

SerialError LinuxSerialDevice::open(const std::string& devicePath, const LineParams& params) {
    close();
    if (SerialError bad = checkParams(params, devicePath)) return bad;
    std::string nodePath;
    if (SerialError bad = resolveSerialNode(devicePath, &nodePath)) return bad;

    // O_NONBLOCK keeps open() from waiting for carrier before CLOCAL is set, and lets reads
    // return at once; the receive thread does its waiting in poll(2).
    UniqueFd fd;
    do {
        fd.reset(::open(nodePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    } while (!fd.valid() && errno == EINTR);
    if (!fd.valid()) return serialErrorFromErrno(errno, "open", devicePath);

    // Two locks because other programs honour one or the other: flock is what picocom,
    // tio and friends take, TIOCEXCL makes the kernel refuse any later open (except
    // root's, which the flock still stops).
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        return serialErrorFromErrno(errno, "lock", devicePath);
    }
    // The tty test: anything but a terminal answers ENOTTY.
    termios2 probe{};
    if (ioctlRetrying(fd.get(), TCGETS2, &probe) != 0) {
        return serialErrorFromErrno(errno, "read line settings of", devicePath);
    }
    if (ioctlRetrying(fd.get(), TIOCEXCL, nullptr) != 0) {
        return serialErrorFromErrno(errno, "claim", devicePath);
    }
    m_fd = std::move(fd);
    m_exclusiveSet = true;
    m_savedLine = std::make_unique<SavedLine>(SavedLine{probe});
    m_path = devicePath;

    // Once the device is open and ours, it counts as open: a driver that refuses a setting
    // (a rate the adapter cannot make, the modem lines of a three-wire cable) leaves the line
    // as it can, and the user sees in the data what the line does.
    configureLine(params);
    static_cast<void>(modemLines(m_fd.get(), TIOCMBIC, TIOCM_DTR));
    static_cast<void>(modemLines(m_fd.get(), TIOCMBIS, TIOCM_RTS));
    setLowLatency();

    // Baseline, so that status() reports only errors seen from now on; a driver without
    // counters only has the hangup and the queue to report.
    m_hasErrorCounts = readErrorCounts(&m_lastCounts) == 0;
    return {};
}

void LinuxSerialDevice::configureLine(const LineParams& params) {
    m_requested = {};
    m_applied = {};
    termios2 before{};
    if (ioctlRetrying(m_fd.get(), TCGETS2, &before) != 0) return;
    const termios2 wanted = rawLine(before, params);
    m_requested = paramsOf(wanted);
    // A refusal is taken step by step: first the rate is given up, then every control flag.
    // The line must end up raw whatever else is refused, or the tty layer would echo the
    // module's bytes back to it and hold them back for a line end.
    termios2 oldRate = wanted;
    oldRate.c_cflag = (wanted.c_cflag & ~(CBAUD | CIBAUD)) | (before.c_cflag & (CBAUD | CIBAUD));
    oldRate.c_ispeed = before.c_ispeed;
    oldRate.c_ospeed = before.c_ospeed;
    termios2 rawOnly = wanted;
    rawOnly.c_cflag = before.c_cflag | CLOCAL | CREAD;
    rawOnly.c_ispeed = before.c_ispeed;
    rawOnly.c_ospeed = before.c_ospeed;
    for (termios2 attempt : {wanted, oldRate, rawOnly}) {
        if (ioctlRetrying(m_fd.get(), TCSETS2, &attempt) == 0) break;
    }
    termios2 taken{};
    if (ioctlRetrying(m_fd.get(), TCGETS2, &taken) == 0) m_applied = paramsOf(taken);
}

void LinuxSerialDevice::setLowLatency() {
    // Only a hint for the driver to hand bytes over without batching; ports that do not
    // know it (ptys, many USB adapters) work the same without, so failures are let go.
    serial_struct info{};
    if (ioctlRetrying(m_fd.get(), TIOCGSERIAL, &info) != 0) return;
    if ((info.flags & ASYNC_LOW_LATENCY) != 0) return;
    info.flags |= ASYNC_LOW_LATENCY;
    static_cast<void>(ioctlRetrying(m_fd.get(), TIOCSSERIAL, &info));
}

int LinuxSerialDevice::readErrorCounts(LineErrorCounts* counts) const {
    serial_icounter_struct icount{};
    if (ioctlRetrying(m_fd.get(), TIOCGICOUNT, &icount) != 0) return errno;
    counts->frame = icount.frame;
    counts->parity = icount.parity;
    counts->overrun = icount.overrun;
    counts->bufOverrun = icount.buf_overrun;
    counts->brk = icount.brk;
    return 0;
}

void LinuxSerialDevice::close() {
    if (!m_fd.valid()) return;
    // Output still queued on a line that does not drain would hold the close for the
    // driver's closing delay (30 s by default on serial ports); once the port is let go it
    // is of no use, and the rest of a frame cut short by a failed write must not follow.
    static_cast<void>(::ioctl(m_fd.get(), TCFLSH, TCOFLUSH));
    // Failures are of no use here: the line is being let go either way, and ptys refuse
    // the modem-line requests outright.
    static_cast<void>(modemLines(m_fd.get(), TIOCMBIC, TIOCM_DTR));
    static_cast<void>(modemLines(m_fd.get(), TIOCMBIC, TIOCM_RTS));
    // The exclusive flag belongs to the tty, not to this descriptor; a pty slave keeps it
    // after the last close while its master lives, and would refuse the next open.
    if (m_savedLine) static_cast<void>(ioctlRetrying(m_fd.get(), TCSETS2, &m_savedLine->line));
    if (m_exclusiveSet) static_cast<void>(ioctlRetrying(m_fd.get(), TIOCNXCL, nullptr));
    m_fd.reset();  // also releases the flock
    m_exclusiveSet = false;
    m_savedLine.reset();
    m_hasErrorCounts = false;
    m_vanished = false;
    m_lastCounts = {};
}

SerialStatus LinuxSerialDevice::status() {
    SerialStatus result;
    if (!m_fd.valid()) {
        result.error = true;
        return result;
    }
    int waiting = 0;
    if (ioctlRetrying(m_fd.get(), FIONREAD, &waiting) != 0) {
        result.error = true;
        if (isGoneErrno(errno)) m_vanished = true;
    } else {
        result.waiting = waiting;
    }
    if (hangupSeen(m_fd.get())) m_vanished = true;
    if (m_hasErrorCounts) {
        LineErrorCounts now;
        if (const int failed = readErrorCounts(&now); failed != 0) {
            result.error = true;
            if (isGoneErrno(failed)) m_vanished = true;
        } else {
            // Counters only rise, so any difference (even a wrapped one) is a new error.
            if (now != m_lastCounts) result.error = true;
            m_lastCounts = now;
        }
    }
    if (m_vanished) {
        result.vanished = true;
        result.error = true;
    }
    return result;
}

long LinuxSerialDevice::read(std::uint8_t* buffer, std::size_t n) {
    if (!m_fd.valid()) return -1;
    if (n == 0) return 0;
    for (;;) {
        const ssize_t got = ::read(m_fd.get(), buffer, n);
        if (got > 0) return static_cast<long>(got);
        if (got == 0) {
            // With VMIN=0 and VTIME=0 an empty line reads 0 just like a hung-up one; only
            // poll tells them apart.
            if (!hangupSeen(m_fd.get())) return 0;
            m_vanished = true;
            return -1;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN) return 0;
        if (isGoneErrno(errno)) m_vanished = true;
        return -1;
    }
}

bool LinuxSerialDevice::write(const std::uint8_t* data, std::size_t n) {
    using Clock = std::chrono::steady_clock;
    if (!m_fd.valid()) return false;
    std::size_t done = 0;
    auto giveUpAt = Clock::now() + m_writeStallLimit;
    while (done < n) {
        const ssize_t put = ::write(m_fd.get(), data + done, n - done);
        if (put > 0) {
            done += static_cast<std::size_t>(put);
            giveUpAt = Clock::now() + m_writeStallLimit;
            continue;
        }
        if (put < 0 && errno == EINTR) continue;
        if (put < 0 && errno != EAGAIN) return false;

        // The driver's output buffer is full: wait for room, but not forever on a line
        // that stopped draining (flow-controlled peer, stuck adapter). poll reports room
        // only once the queue is nearly empty, which a slow line with a full queue takes
        // seconds to reach; short slices let each byte it takes count as progress.
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(giveUpAt - Clock::now()).count();
        if (left <= 0) return false;
        constexpr long kRoomCheckMs = 10;
        pollfd entry{m_fd.get(), POLLOUT, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(std::min<long>(left, kRoomCheckMs)));
        if (ready < 0 && errno != EINTR) return false;
        if (ready > 0 && (entry.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return false;
    }
    return true;
}
