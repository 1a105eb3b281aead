// SPDX-License-Identifier: MIT
#pragma once
// Remote-control transmitters whose key presses the module passes on to the terminal as key
// frames (MsgID 0x13: maker code, key number, its complement). Each transmitter has its own
// device ID and sequence counter; the frames of all of them are spread evenly over time.

#include "module_sim.h"

#include <array>
#include <cstdint>
#include <optional>
#include <random>
#include <string_view>
#include <vector>

namespace orlinsim {

inline constexpr std::uint8_t kKeyMsgId = 0x13;
inline constexpr DeviceId kDefaultFirstTransmitterId = {0x20, 0x00, 0x00, 0x01};
inline constexpr std::array<std::uint8_t, 4> kUsualMakerCode = {0x83, 0x41, 0x00, 0x00};

// Key numbers as "1-4", "1,3,5" or both mixed ("1-3,204"), each 0 to 255, in the order
// written; repeats are kept. Nothing for an empty or malformed text or a range going down.
[[nodiscard]] std::optional<std::vector<std::uint8_t>> parseKeyList(std::string_view text);

// The key frame one transmitter sends. It addresses nobody in particular: DstID FF FF FF FF.
[[nodiscard]] Bytes keyFrame(const DeviceId& transmitter, std::uint8_t sequence,
                             const std::array<std::uint8_t, 4>& maker, std::uint8_t key);

// The IDs count up from the first one as a 32-bit big-endian number.
[[nodiscard]] DeviceId transmitterId(const DeviceId& first, int index);

struct TransmitterConfig {
    int transmitters = 1;
    DeviceId firstId = kDefaultFirstTransmitterId;
    std::array<std::uint8_t, 4> maker = kUsualMakerCode;
    std::vector<std::uint8_t> keys = {1, 2, 3, 4};
    double rate = 1.0;         // frames per second, all transmitters together
    std::uint64_t frames = 0;  // 0: forever
    bool random = false;       // keys drawn from the list instead of cycled
    std::uint32_t seed = 1;
};

class TransmitterBank {
public:
    // The first frame is due at `start`.
    TransmitterBank(TransmitterConfig config, std::uint32_t start);

    // The frames due by tick `now` that were not yet handed out. Frames go round the
    // transmitters in turn. Cycled keys: in round r transmitter t presses key (r + t) of the
    // list, so every transmitter walks the whole list and a round shows different keys.
    std::vector<Bytes> due(std::uint32_t now);

    // Milliseconds until the next frame is due; nullopt once all frames are out.
    [[nodiscard]] std::optional<std::uint32_t> msUntilNext(std::uint32_t now) const;

    [[nodiscard]] std::uint64_t sent() const { return m_sent; }
    [[nodiscard]] bool finished() const {
        return m_config.frames != 0 && m_sent >= m_config.frames;
    }

private:
    [[nodiscard]] std::uint64_t dueOffsetMs(std::uint64_t frame) const;
    [[nodiscard]] std::uint64_t elapsedAt(std::uint32_t now) const;
    std::uint8_t nextKey(std::uint64_t frame);

    TransmitterConfig m_config;
    std::vector<std::uint8_t> m_sequences;
    std::mt19937 m_random;
    // Time since start kept in 64 bits, so a run past the 32-bit tick wrap keeps its pace.
    std::uint64_t m_elapsedBase = 0;
    std::uint32_t m_lastNow;
    std::uint64_t m_sent = 0;
};

}  // namespace orlinsim
