// SPDX-License-Identifier: GPL-2.0-or-later
// Synthesis window wS(n) of TIA-102.BABA for n = -105..105: 1 over |n| <= 55, a linear taper
// (105 - |n|)/50 to 0 at |n| = 105, 0 outside.  32-bit values, evaluated once at compile time
// from the formula; shared by voiced and unvoiced synthesis.
#pragma once

#include <array>
#include <cstddef>

namespace ostrel_mbe::codecs::mbe_baseline {

inline constexpr int SYNTHESIS_WINDOW_HALF = 105;

// Entry i holds wS(i - 105).
inline constexpr std::array<float, 2 * SYNTHESIS_WINDOW_HALF + 1> SYNTHESIS_WINDOW = [] {
    std::array<float, 2 * SYNTHESIS_WINDOW_HALF + 1> w{};
    for (int n = -SYNTHESIS_WINDOW_HALF; n <= SYNTHESIS_WINDOW_HALF; ++n) {
        const int a = n < 0 ? -n : n;
        const double value = a <= 55 ? 1.0 : static_cast<double>(SYNTHESIS_WINDOW_HALF - a) / 50.0;
        w[static_cast<std::size_t>(n + SYNTHESIS_WINDOW_HALF)] = static_cast<float>(value);
    }
    return w;
}();

// wS(n) widened to 64 bits; 0 outside -105..105.
inline constexpr double synthesis_window(int n) {
    if (n < -SYNTHESIS_WINDOW_HALF || n > SYNTHESIS_WINDOW_HALF) return 0.0;
    return SYNTHESIS_WINDOW[static_cast<std::size_t>(n + SYNTHESIS_WINDOW_HALF)];
}

}  // namespace ostrel_mbe::codecs::mbe_baseline
