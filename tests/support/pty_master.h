// SPDX-License-Identifier: MIT
#pragma once
// Helpers for tests that play the far end of a pty: what the line looks like from the
// master, and reading what the device sent.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace ptytest {

// The slave's line settings as the master reads them with TCGETS2, decoded separately
// from the device's own decoding so that the two check each other.
struct MasterLine {
    std::uint32_t inputSpeed = 0;
    std::uint32_t outputSpeed = 0;
    bool twoStopBits = false;
    bool receiverOn = false;       // CREAD
    bool ignoresModem = false;     // CLOCAL
    bool hardwareFlow = false;     // CRTSCTS
    bool softwareFlow = false;     // any of IXON, IXOFF, IXANY
    bool canonical = false;        // ICANON
    bool echoes = false;           // any ECHO flag
    bool signals = false;          // ISIG
    bool translatesInput = false;  // any of ICRNL, INLCR, IGNCR, ISTRIP
    bool processesOutput = false;  // OPOST
    int vmin = -1;
    int vtime = -1;
};

std::optional<MasterLine> readMasterLine(int masterFd);

// Puts the slave into a terminal's usual cooked mode (canonical, echo, CR/NL translation,
// XON/XOFF, output processing) so a test can see the device undo all of it.
bool makeCooked(int masterFd);

// Reads until `count` bytes came or `timeout` passed; returns what came. Stops early when
// the other side is gone.
std::vector<std::uint8_t> readBytes(int fd, std::size_t count, std::chrono::milliseconds timeout);

// Reads everything that arrives until nothing more comes for `quiet`.
std::vector<std::uint8_t> readAvailable(int fd, std::chrono::milliseconds quiet);

// Writes the whole block to a (possibly non-blocking) descriptor.
bool writeAll(int fd, const std::vector<std::uint8_t>& bytes);

// Writes `byte` to a non-blocking slave descriptor until the line takes no more, as a far
// end that stopped reading leaves it; returns the count written. The kernel moves queued
// bytes on in the background, so the line counts as stalled only once it still refuses
// after a pause.
std::size_t fillUntilStalled(int slaveFd, std::uint8_t byte);

// Polls `condition` every millisecond until it holds or `timeout` passes. Data written at
// a pty master reaches the slave through a kernel work queue, so not at once.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

}  // namespace ptytest
