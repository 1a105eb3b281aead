// SPDX-License-Identifier: MIT
#pragma once
// The 32-bit millisecond tick counter. Every interval in the program is a difference of two
// readings taken as unsigned 32-bit numbers, so the counter may wrap.

#include <cstdint>

class Ticks {
public:
    virtual ~Ticks() = default;
    [[nodiscard]] virtual std::uint32_t now() const = 0;
};

[[nodiscard]] constexpr std::uint32_t ticksSince(std::uint32_t earlier, std::uint32_t now) {
    return now - earlier;
}
