// SPDX-License-Identifier: MIT
#include "platform/pty_pair.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

bool fail(std::string* error, const std::string& step) {
    if (error != nullptr) *error = step + ": " + std::strerror(errno);
    return false;
}

}  // namespace

std::optional<PtyPair> PtyPair::create(std::string* error) {
    PtyPair pair;
    pair.m_master.reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    if (!pair.m_master.valid()) {
        fail(error, "open pty master");
        return std::nullopt;
    }
    const int master = pair.m_master.get();
    if (::grantpt(master) != 0) {
        fail(error, "grantpt");
        return std::nullopt;
    }
    if (::unlockpt(master) != 0) {
        fail(error, "unlockpt");
        return std::nullopt;
    }
    char name[128] = {};
    if (const int failed = ::ptsname_r(master, name, sizeof name); failed != 0) {
        errno = failed;
        fail(error, "ptsname");
        return std::nullopt;
    }
    pair.m_slavePath = name;

    // Line-setting requests on a master act on the slave's settings (the master's own stay
    // at the kernel's raw default and cannot be reached). Raw from the start, the slave
    // neither echoes nor translates what the far end sends before the port is opened.
    termios line{};
    if (::tcgetattr(master, &line) != 0) {
        fail(error, "read settings of " + pair.m_slavePath);
        return std::nullopt;
    }
    ::cfmakeraw(&line);
    if (::tcsetattr(master, TCSANOW, &line) != 0) {
        fail(error, "make " + pair.m_slavePath + " raw");
        return std::nullopt;
    }
    return pair;
}

bool PtyPair::holdSlave(std::string* error) {
    if (m_slaveHold.valid()) return true;
    m_slaveHold.reset(::open(m_slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    if (!m_slaveHold.valid()) return fail(error, "open " + m_slavePath);
    return true;
}

void PtyPair::closeMaster() { m_master.reset(); }
