// SPDX-License-Identifier: MIT
#pragma once
// The SrcIDs seen since the last Monitor Clear, so that the "One Shot" display shows only the
// first frame of each sending device. A fixed table of 500, searched linearly: it is small and
// the check runs once per received unit.

#include <array>
#include <cstdint>

class OneShotTable {
public:
    static constexpr int kCapacity = 500;

    OneShotTable() { reset(); }

    // Empties the table; free entries hold FF FF FF FF.
    void reset();

    // True when srcId was seen before. A new srcId is recorded while there is room; once the
    // table is full new devices are not recorded and keep returning false, so they show every
    // time. The first check after a reset sets the time base to now.
    bool check(const std::array<std::uint8_t, 4>& srcId, std::uint32_t now);

    // Distinct devices recorded, 0 to 500: the number a one-shot line carries.
    [[nodiscard]] int count() const { return m_count; }

    // Also set by every time-stamped line shown without "One Shot".
    [[nodiscard]] std::uint32_t timeBase() const { return m_timeBase; }
    void setTimeBase(std::uint32_t tick) { m_timeBase = tick; }

    // Milliseconds since the time base, modulo 1000 (unsigned 32-bit difference): the
    // sub-second field of a time-stamped line.
    [[nodiscard]] int msSinceTimeBase(std::uint32_t now) const {
        return static_cast<int>(static_cast<std::uint32_t>(now - m_timeBase) % 1000u);
    }

private:
    std::array<std::array<std::uint8_t, 4>, kCapacity> m_entries{};
    int m_count = 0;
    std::uint32_t m_timeBase = 0;
};
