// SPDX-License-Identifier: MIT
#include "transmitters.h"

#include "script.h"
#include "core/frame_format.h"

#include <QByteArray>

#include <algorithm>
#include <cmath>

namespace orlinsim {

std::optional<std::vector<std::uint8_t>> parseKeyList(std::string_view text) {
    std::vector<std::uint8_t> keys;
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        std::string_view item = text.substr(0, comma);
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        if (comma != std::string_view::npos && text.empty()) return std::nullopt;

        const std::size_t dash = item.find('-');
        const std::optional<std::uint64_t> first = parseNumber(item.substr(0, dash), 255);
        const std::optional<std::uint64_t> last =
            dash == std::string_view::npos ? first : parseNumber(item.substr(dash + 1), 255);
        if (!first || !last || *last < *first) return std::nullopt;
        for (std::uint64_t key = *first; key <= *last; ++key) {
            keys.push_back(static_cast<std::uint8_t>(key));
        }
    }
    if (keys.empty()) return std::nullopt;
    return keys;
}

Bytes keyFrame(const DeviceId& transmitter, std::uint8_t sequence,
               const std::array<std::uint8_t, 4>& maker, std::uint8_t key) {
    const QByteArray payload =
        ::keyPayload(QByteArray(reinterpret_cast<const char*>(maker.data()), 4), key);
    const Bytes bytes(payload.begin(), payload.end());
    return buildFrame(kKeyMsgId, sequence, kBroadcastId, transmitter, bytes);
}

DeviceId transmitterId(const DeviceId& first, int index) {
    std::uint32_t value = 0;
    for (const std::uint8_t b : first) value = (value << 8) | b;
    value += static_cast<std::uint32_t>(index);
    return DeviceId{static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
                    static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}

TransmitterBank::TransmitterBank(TransmitterConfig config, std::uint32_t start)
    : m_config(std::move(config)),
      m_sequences(static_cast<std::size_t>(std::max(m_config.transmitters, 1)), 0),
      m_random(m_config.seed),
      m_lastNow(start) {
    m_config.transmitters = std::max(m_config.transmitters, 1);
    if (m_config.keys.empty()) m_config.keys = {1};
    if (!(m_config.rate > 0)) m_config.rate = 1.0;
}

std::uint64_t TransmitterBank::dueOffsetMs(std::uint64_t frame) const {
    return static_cast<std::uint64_t>(
        std::llround(static_cast<double>(frame) * 1000.0 / m_config.rate));
}

std::uint64_t TransmitterBank::elapsedAt(std::uint32_t now) const {
    return m_elapsedBase + static_cast<std::uint32_t>(now - m_lastNow);
}

std::uint8_t TransmitterBank::nextKey(std::uint64_t frame) {
    const std::uint64_t count = m_config.keys.size();
    if (m_config.random) return m_config.keys[m_random() % count];
    const auto transmitters = static_cast<std::uint64_t>(m_config.transmitters);
    const std::uint64_t round = frame / transmitters;
    const std::uint64_t transmitter = frame % transmitters;
    return m_config.keys[(round + transmitter) % count];
}

std::vector<Bytes> TransmitterBank::due(std::uint32_t now) {
    m_elapsedBase = elapsedAt(now);
    m_lastNow = now;
    std::vector<Bytes> frames;
    while (!finished() && dueOffsetMs(m_sent) <= m_elapsedBase) {
        const auto index = static_cast<std::size_t>(m_sent % m_sequences.size());
        const std::uint8_t key = nextKey(m_sent);
        frames.push_back(keyFrame(transmitterId(m_config.firstId, static_cast<int>(index)),
                                  m_sequences[index]++, m_config.maker, key));
        ++m_sent;
    }
    return frames;
}

std::optional<std::uint32_t> TransmitterBank::msUntilNext(std::uint32_t now) const {
    if (finished()) return std::nullopt;
    const std::uint64_t elapsed = elapsedAt(now);
    const std::uint64_t at = dueOffsetMs(m_sent);
    if (at <= elapsed) return 0u;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(at - elapsed, UINT32_MAX));
}

}  // namespace orlinsim
