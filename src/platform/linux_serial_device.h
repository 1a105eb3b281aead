// SPDX-License-Identifier: MIT
#pragma once
// The serial device on Linux: a tty opened non-blocking and exclusively, driven through
// termios2 so that any baud rate can be asked for by number.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/serial_device.h"

// Owns one file descriptor and closes it on destruction.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    [[nodiscard]] int get() const { return m_fd; }
    [[nodiscard]] bool valid() const { return m_fd >= 0; }
    // Gives up ownership without closing.
    int release();
    // Closes the held descriptor (if any) and takes fd instead; close errors are ignored
    // because the descriptor is gone either way.
    void reset(int fd = -1);

private:
    int m_fd = -1;
};

// Whether fd's far end is gone (hangup, error), asked without waiting; a failing poll counts
// as gone. A socket also asks for the peer's shutdown (POLLRDHUP).
[[nodiscard]] bool hangupSeen(int fd, bool peerShutdown = false);

// Maps the errno of a failed step to the kind the user is told about; the message names
// the step and the target and keeps strerror's text, e.g. "open /dev/ttyS9: No such file
// or directory".
SerialError serialErrorFromErrno(int errnoValue, const std::string& step,
                                 const std::string& target);

class LinuxSerialDevice : public SerialDevice {
public:
    LinuxSerialDevice();
    LinuxSerialDevice(const LinuxSerialDevice&) = delete;
    LinuxSerialDevice& operator=(const LinuxSerialDevice&) = delete;
    ~LinuxSerialDevice() override;

    SerialError open(const std::string& devicePath, const LineParams& params) override;
    void close() override;
    [[nodiscard]] bool isOpen() const override { return m_fd.valid(); }
    [[nodiscard]] int pollFd() const override { return m_fd.get(); }
    SerialStatus status() override;
    long read(std::uint8_t* buffer, std::size_t n) override;
    bool write(const std::uint8_t* data, std::size_t n) override;

    // The line settings the driver reported back after they were set; drivers may round
    // the rate or ignore what they cannot do.
    [[nodiscard]] LineParams applied() const { return m_applied; }
    // The line settings exactly as handed to the driver. Ptys force 8 data bits and no
    // parity, so tests look here for those.
    [[nodiscard]] LineParams requested() const { return m_requested; }

    // How long write() waits for room in a full output buffer, without any byte going out,
    // before it gives up. The wait blocks the UI thread, so it is kept short: a line that
    // drains at any usable rate takes a byte well within it.
    void setWriteStallLimit(std::chrono::milliseconds limit) { m_writeStallLimit = limit; }

private:
    // Error counters of the UART at the last status query.
    struct LineErrorCounts {
        int frame = 0;
        int parity = 0;
        int overrun = 0;
        int bufOverrun = 0;
        int brk = 0;

        bool operator==(const LineErrorCounts&) const = default;
    };

    // The line settings found at open, put back at close: no terminal is left raw, neither
    // a pty that a shell is later given nor a port the next program opens.
    struct SavedLine;

    void configureLine(const LineParams& params);
    void setLowLatency();
    // Reads the driver's error counters; 0 or the errno of the failed query.
    int readErrorCounts(LineErrorCounts* counts) const;

    UniqueFd m_fd;
    std::string m_path;
    bool m_exclusiveSet = false;  // TIOCEXCL is ours to clear at close
    std::unique_ptr<SavedLine> m_savedLine;
    bool m_hasErrorCounts = false;
    // A read saw the device gone; the descriptor stays dead until it is closed.
    bool m_vanished = false;
    LineErrorCounts m_lastCounts;
    LineParams m_requested;
    LineParams m_applied;
    std::chrono::milliseconds m_writeStallLimit{200};
};
