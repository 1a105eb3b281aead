// SPDX-License-Identifier: MIT
#pragma once
// The serial device as the port driver sees it. One Linux implementation (termios2) and
// fakes for tests. Every call runs on the UI thread; only pollFd() is shared with the
// receive thread, which sleeps in poll(2) on it and never reads.

#include <cstddef>
#include <cstdint>
#include <string>

enum class Parity { None, Odd, Even };

struct LineParams {
    std::uint32_t baud = 9600;
    int dataBits = 8;  // 5..8
    Parity parity = Parity::None;
    int stopBits = 1;  // 1 or 2

    bool operator==(const LineParams&) const = default;
};

enum class SerialErrorKind { None, NotFound, InUse, PermissionDenied, NotATty, Other };

struct SerialError {
    SerialErrorKind kind = SerialErrorKind::None;
    int errnoValue = 0;
    std::string message;  // the failing step and strerror's text

    explicit operator bool() const { return kind != SerialErrorKind::None; }
};

// Answer of the status query: whether a line error (or a vanished device) was seen since
// the last query, and how many bytes wait to be read.
struct SerialStatus {
    bool error = false;
    int waiting = 0;
    // The error is the device itself going away (hangup, an adapter pulled out), not a fault
    // on a line that is still there; error is set too.
    bool vanished = false;
};

class SerialDevice {
public:
    virtual ~SerialDevice() = default;

    // Opens exclusively, sets raw mode and the line parameters, DTR off and RTS on. Once the
    // device itself is open, settings the driver refuses do not make the open fail.
    virtual SerialError open(const std::string& devicePath, const LineParams& params) = 0;
    // Drops DTR, then RTS, then releases the device. Harmless when closed.
    virtual void close() = 0;
    [[nodiscard]] virtual bool isOpen() const = 0;
    // Descriptor that becomes readable when data arrives or the line hangs up; -1 when closed.
    [[nodiscard]] virtual int pollFd() const = 0;
    // Queries and clears the line-error state and counts the waiting bytes.
    virtual SerialStatus status() = 0;
    // Reads up to n bytes without blocking; returns the count, or -1 on failure.
    virtual long read(std::uint8_t* buffer, std::size_t n) = 0;
    // Writes the whole block, looping over partial writes; false when it could not.
    virtual bool write(const std::uint8_t* data, std::size_t n) = 0;
};
