// SPDX-License-Identifier: MIT
#pragma once
// Which device nodes the port may open. Opening a character device for reading and writing
// has effects of its own on some of them (a watchdog arms, the launching terminal or a
// virtual console is taken over and left raw), and the program often runs as root, so the
// node is judged from its stat() result before it is ever opened: only serial ports and pty
// slaves pass.
//
// In: the node's stat() result and what the kernel files the device number under. Out: why
// the node is refused, or nothing when it may be opened.

#include <sys/stat.h>

#include <optional>
#include <string>

// What the kernel tells about a character device number; a seam so that the rules can be
// tried on a made-up device table.
class CharDeviceInfo {
public:
    virtual ~CharDeviceInfo() = default;
    // The class the device is filed under ("tty", "mem", "misc", ...), or nothing when the
    // kernel lists no entry for it (pty slaves, a system without sysfs).
    [[nodiscard]] virtual std::optional<std::string> subsystem(unsigned major,
                                                               unsigned minor) const = 0;
    // Whether a driver of real hardware is bound behind the device (a UART, a USB adapter),
    // which the virtual ttys lack.
    [[nodiscard]] virtual bool hasDriver(unsigned major, unsigned minor) const = 0;
};

// The kernel's own answers, from /sys/dev/char/MAJOR:MINOR.
class SysfsCharDeviceInfo final : public CharDeviceInfo {
public:
    [[nodiscard]] std::optional<std::string> subsystem(unsigned major,
                                                       unsigned minor) const override;
    [[nodiscard]] bool hasDriver(unsigned major, unsigned minor) const override;
};

// Nothing for a serial port or a pty slave; otherwise a short English reason, such as
// "a virtual console" or "a device of class mem".
[[nodiscard]] std::optional<std::string> whyNotASerialPort(const struct stat& node,
                                                           const CharDeviceInfo& devices);
