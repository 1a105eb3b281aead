// SPDX-License-Identifier: MIT
#include "platform/serial_port_node.h"

#include <dirent.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <array>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

namespace {

std::string sysfsEntry(const std::string& root, unsigned major, unsigned minor) {
    return root + "sys/dev/char/" + std::to_string(major) + ':' + std::to_string(minor);
}

std::string firstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// Pty slaves (/dev/pts/*) never appear under sysfs.
constexpr unsigned kFirstPtySlaveMajor = 136;
constexpr unsigned kLastPtySlaveMajor = 143;

bool isPtySlave(unsigned major) {
    return major >= kFirstPtySlaveMajor && major <= kLastPtySlaveMajor;
}

// Majors that only serial drivers use, for a system that offers no sysfs to ask: ttyS
// (4, from minor 64), ttyACM, ttyUSB, and the low-density serial ports (ttyAMA and kin).
bool isSerialMajor(unsigned major, unsigned minor) {
    if (major == 4) return minor >= 64;
    return major == 166 || major == 188 || major == 204;
}

// The fields of /proc/PID/stat that tell a controlling terminal. The command sits in
// parentheses and may hold spaces and parentheses itself, so the fields after it are found
// from its last ')'.
struct ProcStat {
    std::string command;
    int session = 0;
    unsigned ttyNr = 0;
};

std::optional<ProcStat> readProcStat(const std::string& path) {
    const std::string line = firstLine(path);
    const std::size_t open = line.find('(');
    const std::size_t close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) return {};
    ProcStat stat;
    stat.command = line.substr(open + 1, close - open - 1);
    char state = 0;
    int ppid = 0;
    int pgrp = 0;
    int ttyNr = 0;
    if (std::sscanf(line.c_str() + close + 1, " %c %d %d %d %d", &state, &ppid, &pgrp,
                    &stat.session, &ttyNr) != 5)
        return {};
    stat.ttyNr = static_cast<unsigned>(ttyNr);
    return stat;
}

}  // namespace

std::optional<std::string> SysfsCharDeviceInfo::subsystem(unsigned major, unsigned minor) const {
    std::array<char, PATH_MAX> target{};
    const std::string link = sysfsEntry(m_root, major, minor) + "/subsystem";
    const ssize_t n = ::readlink(link.c_str(), target.data(), target.size() - 1);
    if (n <= 0) return std::nullopt;
    const std::string path(target.data(), static_cast<std::size_t>(n));
    return path.substr(path.find_last_of('/') + 1);
}

bool SysfsCharDeviceInfo::hasDriver(unsigned major, unsigned minor) const {
    const std::string driver = sysfsEntry(m_root, major, minor) + "/device/driver";
    return ::access(driver.c_str(), F_OK) == 0;
}

bool SysfsCharDeviceInfo::isActiveConsole(unsigned major, unsigned minor) const {
    // "tty0 ttyS0": every tty the kernel's messages go to, each with its "MAJOR:MINOR".
    std::istringstream names(firstLine(m_root + "sys/class/tty/console/active"));
    const std::string wanted = std::to_string(major) + ':' + std::to_string(minor);
    std::string name;
    while (names >> name) {
        if (name.find('/') != std::string::npos) continue;
        if (firstLine(m_root + "sys/class/tty/" + name + "/dev") == wanted) return true;
    }
    return false;
}

std::optional<TtyHolder> SysfsCharDeviceInfo::controllingProcess(unsigned major,
                                                                 unsigned minor) const {
    const std::string procDir = m_root + "proc";
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(procDir.c_str()), &::closedir);
    if (!dir) return std::nullopt;
    std::optional<TtyHolder> found;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        // A process that ended meanwhile has no file left to read.
        const std::optional<ProcStat> stat = readProcStat(procDir + '/' + name + "/stat");
        if (!stat || stat->ttyNr == 0) continue;
        if (::major(stat->ttyNr) != major || ::minor(stat->ttyNr) != minor) continue;
        const int pid = static_cast<int>(std::strtol(name.c_str(), nullptr, 10));
        found = TtyHolder{pid, stat->command};
        if (stat->session == pid) break;  // the session leader, usually the shell
    }
    return found;
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

    const bool pty = isPtySlave(major);
    std::optional<std::string> cls;
    if (!pty) {
        cls = devices.subsystem(major, minor);
        if (cls && *cls != "tty") return "a device of class " + *cls;
        // Virtual ttys (printk, a console's alias) have no hardware behind them.
        if (cls && !devices.hasDriver(major, minor)) return "a tty without serial hardware";
        if (!cls && !isSerialMajor(major, minor)) return "a device of no serial driver";
        // The same devices as /dev/console under their own names: the search would set the
        // kit's speed on the console and write frames between the kernel's messages.
        if (devices.isActiveConsole(major, minor)) return "the active system console";
    }
    // Someone's terminal window or login line, which would be taken over and left raw.
    if (const std::optional<TtyHolder> holder = devices.controllingProcess(major, minor)) {
        return "the controlling terminal of process " + std::to_string(holder->pid) + " (" +
               holder->command + ")";
    }
    return std::nullopt;
}

std::optional<PortNodeLook> SystemPortNodes::look(const std::string& path) const {
    PortNodeLook look;
    std::string at = path;
    // Each hop by hand, to learn which link points at the node itself.
    for (int hop = 0; hop < 40; ++hop) {
        struct stat info {};
        if (::lstat(at.c_str(), &info) != 0) return std::nullopt;
        if (!S_ISLNK(info.st_mode)) {
            if (::stat(at.c_str(), &info) != 0) return std::nullopt;
            look.ptySlave = S_ISCHR(info.st_mode) && isPtySlave(::major(info.st_rdev));
            return look;
        }
        look.link = LinkStamp{info.st_dev, info.st_ino, info.st_ctim.tv_sec, info.st_ctim.tv_nsec};
        std::array<char, PATH_MAX> target{};
        const ssize_t n = ::readlink(at.c_str(), target.data(), target.size() - 1);
        if (n <= 0) return std::nullopt;
        const std::string next(target.data(), static_cast<std::size_t>(n));
        if (next.front() == '/') {
            at = next;
        } else {
            const std::size_t slash = at.find_last_of('/');
            at = (slash == std::string::npos ? std::string() : at.substr(0, slash + 1)) + next;
        }
    }
    return std::nullopt;
}
