// SPDX-License-Identifier: MIT
#pragma once
// The program's one real clock; everything else reads time through Ticks.

#include "core/ticks.h"

// Milliseconds of the steady clock, truncated to 32 bits.
class SteadyTicks final : public Ticks {
public:
    [[nodiscard]] std::uint32_t now() const override;
};
