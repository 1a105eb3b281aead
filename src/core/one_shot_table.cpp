// SPDX-License-Identifier: MIT
// Kept apart from the unit display so that the filter's bookkeeping (time base, full table)
// can be checked without a monitor.
#include "core/one_shot_table.h"

void OneShotTable::reset() {
    for (auto& entry : m_entries) entry.fill(0xFF);
    m_count = 0;
}

bool OneShotTable::check(const std::array<std::uint8_t, 4>& srcId, std::uint32_t now) {
    if (m_count == 0) m_timeBase = now;
    for (int i = 0; i < m_count; ++i) {
        if (m_entries[static_cast<std::size_t>(i)] == srcId) return true;
    }
    if (m_count < kCapacity) {
        m_entries[static_cast<std::size_t>(m_count)] = srcId;
        ++m_count;
    }
    return false;
}
