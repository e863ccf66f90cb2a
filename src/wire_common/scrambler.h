// SPDX-License-Identifier: GPL-2.0-or-later
// The pseudo-noise sequence that scrambles the protected code vectors of both frame formats
// (TIA-102.BABA): p(0) = 16 u0 over the 12 bits of u0, p(n) = (173 p(n-1) + 13849) mod 65536,
// each mask bit the top bit of the next p(n).  The full rate scrambles c1..c6 with the first
// 114 values, the half rate c1 with the first 23.
#pragma once

#include <cstdint>

namespace ostrel_mbe::wire_common {

class Scrambler {
public:
    explicit Scrambler(std::uint16_t u0) : p_(seed(u0)) {}

    // p(0) for u0, and p(n) from p(n - 1).
    static constexpr std::uint32_t seed(std::uint16_t u0) { return 16u * (u0 & 0xFFFu); }
    static constexpr std::uint32_t advance(std::uint32_t p) { return (173u * p + 13849u) & 0xFFFFu; }

    // The next `width` values of the sequence as a right-aligned mask, the first in its top bit.
    std::uint32_t next_mask(unsigned width) {
        std::uint32_t mask = 0;
        for (unsigned i = 0; i < width; ++i) {
            p_ = advance(p_);
            mask = (mask << 1) | (p_ >> 15);
        }
        return mask;
    }

private:
    std::uint32_t p_;
};

}  // namespace ostrel_mbe::wire_common
