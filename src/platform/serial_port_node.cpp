// SPDX-License-Identifier: MIT
#include "platform/serial_port_node.h"

#include <sys/sysmacros.h>
#include <unistd.h>

#include <array>
#include <climits>

namespace {

std::string sysfsEntry(unsigned major, unsigned minor) {
    return "/sys/dev/char/" + std::to_string(major) + ':' + std::to_string(minor);
}

// Pty slaves (/dev/pts/*) never appear under sysfs.
constexpr unsigned kFirstPtySlaveMajor = 136;
constexpr unsigned kLastPtySlaveMajor = 143;

// Majors that only serial drivers use, for a system that offers no sysfs to ask: ttyS
// (4, from minor 64), ttyACM, ttyUSB, and the low-density serial ports (ttyAMA and kin).
bool isSerialMajor(unsigned major, unsigned minor) {
    if (major == 4) return minor >= 64;
    return major == 166 || major == 188 || major == 204;
}

}  // namespace

std::optional<std::string> SysfsCharDeviceInfo::subsystem(unsigned major, unsigned minor) const {
    std::array<char, PATH_MAX> target{};
    const std::string link = sysfsEntry(major, minor) + "/subsystem";
    const ssize_t n = ::readlink(link.c_str(), target.data(), target.size() - 1);
    if (n <= 0) return std::nullopt;
    const std::string path(target.data(), static_cast<std::size_t>(n));
    return path.substr(path.find_last_of('/') + 1);
}

bool SysfsCharDeviceInfo::hasDriver(unsigned major, unsigned minor) const {
    const std::string driver = sysfsEntry(major, minor) + "/device/driver";
    return ::access(driver.c_str(), F_OK) == 0;
}

std::optional<std::string> whyNotASerialPort(const struct stat& node,
                                             const CharDeviceInfo& devices) {
    if (!S_ISCHR(node.st_mode)) return "not a character device";
    const unsigned major = ::major(node.st_rdev);
    const unsigned minor = ::minor(node.st_rdev);
    // The ttys of the console system are ttys too, so these are named before any class
    // lookup could let them pass.
    if (major == 4 && minor < 64) return "a virtual console";
    if (major == 5 && minor == 0) return "the controlling terminal";
    if (major == 5 && minor == 1) return "the system console";
    if (major == 5 && minor == 2) return "the pty multiplexer";
    if (major >= kFirstPtySlaveMajor && major <= kLastPtySlaveMajor) return std::nullopt;

    if (const std::optional<std::string> cls = devices.subsystem(major, minor)) {
        if (*cls != "tty") return "a device of class " + *cls;
        // Virtual ttys (printk, a console's alias) have no hardware behind them.
        if (!devices.hasDriver(major, minor)) return "a tty without serial hardware";
        return std::nullopt;
    }
    if (isSerialMajor(major, minor)) return std::nullopt;
    return "a device of no serial driver";
}
