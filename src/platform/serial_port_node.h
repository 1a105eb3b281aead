// SPDX-License-Identifier: MIT
#pragma once
// Which device nodes the port may open. Opening a character device for reading and writing
// has effects of its own on some of them (a watchdog arms, the launching terminal or a
// virtual console is taken over and left raw), and the program often runs as root, so the
// node is judged from its stat() result before it is ever opened: only serial ports and pty
// slaves pass, and of those neither the kernel's console nor a tty that is some process's
// controlling terminal (a shell's window).
//
// In: the node's stat() result and what the kernel files the device number under. Out: why
// the node is refused, or nothing when it may be opened.

#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

// A process that has a tty as its controlling terminal.
struct TtyHolder {
    int pid = 0;
    std::string command;  // its comm, as ps shows it
};

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
    // Whether the kernel writes its console messages to the tty (ttyS0 on most VMs and boards).
    [[nodiscard]] virtual bool isActiveConsole(unsigned major, unsigned minor) const = 0;
    // A process whose controlling terminal the tty is, its session leader where that is one
    // of them; nothing when no process has it.
    [[nodiscard]] virtual std::optional<TtyHolder> controllingProcess(unsigned major,
                                                                      unsigned minor) const = 0;
};

// The kernel's own answers, from /sys (dev/char/MAJOR:MINOR, class/tty/console/active) and
// /proc/PID/stat under root, which tests point at a made-up tree.
class SysfsCharDeviceInfo final : public CharDeviceInfo {
public:
    explicit SysfsCharDeviceInfo(std::string root = "/") : m_root(std::move(root)) {
        if (m_root.empty() || m_root.back() != '/') m_root += '/';
    }

    [[nodiscard]] std::optional<std::string> subsystem(unsigned major,
                                                       unsigned minor) const override;
    [[nodiscard]] bool hasDriver(unsigned major, unsigned minor) const override;
    [[nodiscard]] bool isActiveConsole(unsigned major, unsigned minor) const override;
    [[nodiscard]] std::optional<TtyHolder> controllingProcess(unsigned major,
                                                              unsigned minor) const override;

private:
    std::string m_root;
};

// Nothing for a serial port or a pty slave; otherwise a short English reason, such as
// "a virtual console", "the active system console" or "the controlling terminal of process
// 812 (bash)".
[[nodiscard]] std::optional<std::string> whyNotASerialPort(const struct stat& node,
                                                           const CharDeviceInfo& devices);

// The identity of a symlink itself: whoever removes and makes it again gives it a new one.
struct LinkStamp {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t changedSec = 0;
    std::int64_t changedNsec = 0;

    bool operator==(const LinkStamp&) const = default;
};

// What a port name leads to. A pty slave has no identity of its own: the kernel hands its
// number to the next pty made, often a shell's terminal. Only the symlink that its maker puts
// up for each new pty (a simulator's link, socat's link=) tells its next pty from a stranger's.
struct PortNodeLook {
    bool ptySlave = false;
    // The last symlink on the way to the node, the one its maker re-creates; nothing when the
    // name is the node itself.
    std::optional<LinkStamp> link;
};

// A seam so that the reconnect rules can be tried on made-up names.
class PortNodes {
public:
    virtual ~PortNodes() = default;
    // Nothing when the name leads nowhere (a dangling link, a network port's name).
    [[nodiscard]] virtual std::optional<PortNodeLook> look(const std::string& path) const = 0;
};

class SystemPortNodes final : public PortNodes {
public:
    [[nodiscard]] std::optional<PortNodeLook> look(const std::string& path) const override;
};
