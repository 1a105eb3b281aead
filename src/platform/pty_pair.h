// SPDX-License-Identifier: MIT
#pragma once
// A pseudo-terminal pair standing in for a serial cable: the program under test opens the
// slave path as if it were a port, and the simulator or test plays the far end on the
// master.

#include <optional>
#include <string>

#include "platform/linux_serial_device.h"

class PtyPair {
public:
    // Opens a fresh pty with both sides raw and the master non-blocking. Returns nothing
    // on failure and then puts the failing step and strerror's text into *error.
    static std::optional<PtyPair> create(std::string* error);

    PtyPair(PtyPair&&) noexcept = default;
    PtyPair& operator=(PtyPair&&) noexcept = default;

    // -1 once closeMaster() ran or after a move.
    [[nodiscard]] int masterFd() const { return m_master.get(); }
    [[nodiscard]] const std::string& slavePath() const { return m_slavePath; }

    // Keeps a descriptor of the slave open. Without one, the master sees a hangup (POLLHUP,
    // reads fail with EIO) whenever the last user of the slave closes it, which a far end
    // that outlives several opens of the port does not want. Opened before the slave is
    // handed out, it does not get in the way of TIOCEXCL taken later.
    bool holdSlave(std::string* error);
    // Ends the far end: every open slave descriptor sees the line hang up.
    void closeMaster();

private:
    PtyPair() = default;

    UniqueFd m_master;
    UniqueFd m_slaveHold;
    std::string m_slavePath;
};
