// SPDX-License-Identifier: MIT
#pragma once
// The virtual Orlin module without its pty: bytes from the terminal and tick counts go in,
// the frames it answers with come out. Frames are cut exactly as the terminal cuts the
// module's frames, so both ends agree on where a frame ends, and the radio settings that
// the terminal's commands write are kept for the settings response.

#include "core/framing.h"

#include <array>
#include <cstdint>
#include <optional>
#include <random>
#include <span>
#include <vector>

namespace orlinsim {

using Bytes = std::vector<std::uint8_t>;
using DeviceId = std::array<std::uint8_t, 4>;

inline constexpr DeviceId kBroadcastId = {0xFF, 0xFF, 0xFF, 0xFF};
inline constexpr DeviceId kDefaultModuleId = {0x10, 0x00, 0x00, 0x01};

// Every frame that is not a "Read" is answered with this MsgID and a two-byte payload: the
// MsgID and sequence number of the frame answered. 0x06 is ASCII ACK; it is neither a key
// frame (0x13) nor, at 15 bytes, a settings response.
inline constexpr std::uint8_t kAckMsgId = 0x06;
inline constexpr int kAckLength = 15;
inline constexpr std::uint8_t kSettingsResponseMsgId = 0x00;
inline constexpr int kSettingsResponseLength = 44;

// What the settings records write. Channel and power are the terminal's list indexes, kept
// as the byte that carried them.
struct ModuleSettings {
    std::uint8_t channel = 0;
    std::uint8_t power = 15;
    std::uint8_t uartCode = 0;
    std::uint16_t sysId = 0;
    std::uint16_t proId = 0;

    bool operator==(const ModuleSettings&) const = default;
};

struct ModuleConfig {
    DeviceId id = kDefaultModuleId;
    std::uint16_t sysId = 0;
    std::uint16_t proId = 0;
    // Silence after which a partial frame is dropped, as the terminal's receive timeout.
    std::uint32_t timeoutMs = 100;
};

// One frame in the wire format the terminal uses: header, then payload.
[[nodiscard]] Bytes buildFrame(std::uint8_t msgId, std::uint8_t sequence, const DeviceId& dst,
                               const DeviceId& src, std::span<const std::uint8_t> payload);

class ModuleSim : private FramingSink {
public:
    explicit ModuleSim(const ModuleConfig& config);

    // Bytes as they arrived at tick `now`, split or joined in any way. Returns one answer
    // frame for each frame that these bytes complete, in order.
    std::vector<Bytes> feed(std::span<const std::uint8_t> bytes, std::uint32_t now);
    // Drops a partial frame once the line has been quiet for longer than the timeout.
    void checkTimeout(std::uint32_t now);
    // Milliseconds until checkTimeout() would drop the partial frame; nullopt when none.
    [[nodiscard]] std::optional<std::uint32_t> msUntilTimeout(std::uint32_t now) const;

    [[nodiscard]] const ModuleSettings& settings() const { return m_settings; }
    [[nodiscard]] const DeviceId& id() const { return m_id; }

private:
    void frameCompleted(const FrameHeaderInfo& header, std::span<const std::uint8_t> unit) override;
    void unitFinished(std::span<const std::uint8_t> unit) override;

    void applyRecord(std::uint8_t msgId, std::span<const std::uint8_t> payload);
    Bytes settingsResponse(const DeviceId& to);

    DeviceId m_id;
    ModuleSettings m_settings;
    Framing m_framing;
    std::uint8_t m_sequence = 0;
    std::vector<Bytes> m_answers;
};

// Test knobs applied to an answer on its way out: `garbage` random bytes in front, and with
// `cut` only the first half of the answer (rounded down).
struct AnswerShaping {
    int garbage = 0;
    bool cut = false;
};

[[nodiscard]] Bytes shapeAnswer(const Bytes& answer, const AnswerShaping& shaping,
                                std::mt19937& random);

}  // namespace orlinsim
