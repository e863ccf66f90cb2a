// SPDX-License-Identifier: GPL-2.0-or-later
// Half-rate bit prioritisation: the nine quantised values b0..b8 (7, 5, 5, 9, 7, 5, 4, 4, 3
// bits) to the information vectors u0..u3 (12, 12, 11, 14 bits, right-aligned) and back.
// The bit order is the fixed table of TIA-102.BABA, generated into tables::PRIORITY.
#pragma once

#include <array>
#include <cstdint>

namespace ostrel_mbe::ambe_plus2_wire::priority {

// Bits of each b value above its width are not carried.
std::array<std::uint16_t, 4> prioritize(const std::array<std::uint16_t, 9>& b);

// Bits of each u vector above its width are not read.
std::array<std::uint16_t, 9> deprioritize(const std::array<std::uint16_t, 4>& u);

}  // namespace ostrel_mbe::ambe_plus2_wire::priority
