// SPDX-License-Identifier: GPL-2.0-or-later
#include "ambe_plus2_wire/codebook_search.h"

#include "ambe_plus2_wire/generated_tables.h"

#include <cmath>

namespace ostrel_mbe::ambe_plus2_wire::dequantize {

std::uint16_t pitch_index(double omega0) {
    // The table decreases with the index; keep PITCH[lo] >= omega0 > PITCH[hi] while narrowing.
    std::size_t lo = 0;
    std::size_t hi = tables::PITCH.size() - 1;
    while (lo + 1 < hi) {
        const std::size_t mid = (lo + hi) / 2;
        if (static_cast<double>(tables::PITCH[mid].omega0) >= omega0) {
            lo = mid;
        } else {
            hi = mid;
        }
    }
    const double to_hi = std::abs(omega0 - static_cast<double>(tables::PITCH[hi].omega0));
    const double to_lo = std::abs(omega0 - static_cast<double>(tables::PITCH[lo].omega0));
    return static_cast<std::uint16_t>(to_hi < to_lo ? hi : lo);
}

std::uint16_t gain_index(double d) {
    const auto& levels = tables::GAIN_LEVELS;
    constexpr std::size_t last = tables::GAIN_LEVELS.size() - 1;
    // The top threshold is the 32-bit top level widened, so d equal to it codes as 31.
    if (!(d > static_cast<double>(levels[0]))) return 0;
    if (d >= static_cast<double>(levels[last])) return static_cast<std::uint16_t>(last);
    std::size_t lo = 0;
    std::size_t hi = last;
    while (lo + 1 < hi) {
        const std::size_t mid = (lo + hi) / 2;
        if (static_cast<double>(levels[mid]) <= d) {
            lo = mid;
        } else {
            hi = mid;
        }
    }
    const double to_lo = d - static_cast<double>(levels[lo]);
    const double to_hi = static_cast<double>(levels[hi]) - d;
    return static_cast<std::uint16_t>(to_hi < to_lo ? hi : lo);
}

}  // namespace ostrel_mbe::ambe_plus2_wire::dequantize
