// SPDX-License-Identifier: MIT
#pragma once
// Waits on the UI thread that keep the user interface alive: they run the event loop until a
// condition holds or the time is up, sleeping between events instead of spinning.

#include "core/ticks.h"

#include <cstdint>
#include <functional>
#include <optional>

// Returns true when done() became true, false when timeoutMs passed first (never, if no
// timeout is given).
bool pumpUntil(const std::function<bool()>& done, const Ticks& ticks,
               std::optional<std::uint32_t> timeoutMs);

// Keeps processing events until at least ms milliseconds have passed.
void pumpFor(std::uint32_t ms, const Ticks& ticks);
