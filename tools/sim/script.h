// SPDX-License-Identifier: MIT
#pragma once
// The texts orlin-sim reads (hex byte text, numbers, device IDs) and its scripted mode: one
// command per line, "0F 5A 0D ..." writes those bytes, "sleep 50" pauses 50 ms, and "#"
// starts a comment. Pure: the runner is told the time and hands back what is due.

#include "module_sim.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orlinsim {

// Hex byte text: pairs of hex digits, either case, separated by spaces or tabs or run
// together ("0F5A"). Nothing else is accepted, so a typo is reported, not skipped.
[[nodiscard]] std::optional<Bytes> parseHexBytes(std::string_view text);

// Exactly four bytes of hex byte text, as in "01 02 03 04".
[[nodiscard]] std::optional<DeviceId> parseDeviceId(std::string_view text);

// A decimal number, or hexadecimal after "0x", no larger than `max`.
[[nodiscard]] std::optional<std::uint64_t> parseNumber(std::string_view text, std::uint64_t max);

struct ScriptCommand {
    enum class Kind { Write, Sleep };
    Kind kind = Kind::Write;
    Bytes bytes;           // Write
    std::uint32_t ms = 0;  // Sleep
};

struct ScriptLine {
    std::optional<ScriptCommand> command;  // none for a blank or comment line
    std::optional<std::string> error;
};

[[nodiscard]] ScriptLine parseScriptLine(std::string_view line);

// Splits a byte stream (a script read from a pipe) into lines; a CR before the LF is dropped.
class LineBuffer {
public:
    std::vector<std::string> push(std::string_view chunk);
    // The unterminated last line at the end of the stream, if any.
    std::optional<std::string> finish();

private:
    std::string m_partial;
};

class ScriptRunner {
public:
    void add(ScriptCommand command) { m_queue.push_back(std::move(command)); }

    // Runs the commands whose turn has come at tick `now`: each write up to the next sleep
    // that has not yet ended. Returns the writes, one block per command.
    std::vector<Bytes> run(std::uint32_t now);

    // Milliseconds until a running sleep ends and further commands wait; nullopt when there
    // is nothing to wait for (no sleep running, or nothing queued behind it).
    [[nodiscard]] std::optional<std::uint32_t> msUntilNext(std::uint32_t now) const;

    [[nodiscard]] bool idle() const { return m_queue.empty(); }

private:
    std::deque<ScriptCommand> m_queue;
    std::optional<std::uint32_t> m_sleepEnds;
};

}  // namespace orlinsim
