// SPDX-License-Identifier: MIT
#pragma once
// What the port driver hands received bytes to. The framing implements it; the driver only
// reads and paces.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

class ReceiveHandler {
public:
    virtual ~ReceiveHandler() = default;
    // A receive thread starts: a unit left over from an earlier connection is finished, and
    // the framing starts afresh.
    virtual void restart() = 0;
    // The line ended (a hangup, a line error, a close): what was received is not lost with it.
    // May be called from inside received(), by a window that closes the port there.
    virtual void lineEnded() {}
    // One poll's bytes (possibly none), with the tick count after they were read.
    virtual void received(std::span<const std::uint8_t> bytes, std::uint32_t now) = 0;
    // How long the line may stay silent before a poll is needed again (a pending unit's
    // timeout); nullopt when only new bytes matter.
    [[nodiscard]] virtual std::optional<std::uint32_t> quietBudgetMs(std::uint32_t now) const = 0;
};
