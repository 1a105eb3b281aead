// SPDX-License-Identifier: MIT
#include "platform/steady_ticks.h"

#include <chrono>

std::uint32_t SteadyTicks::now() const {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<std::uint32_t>(ms.count());
}
