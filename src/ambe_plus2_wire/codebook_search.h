// SPDX-License-Identifier: GPL-2.0-or-later
// Nearest-entry searches of the half-rate quantizer: vector codebooks by squared Euclidean
// distance, and the sorted scalar tables (pitch, gain) by bisection.  Distances are 64-bit;
// in every search the first (lowest) index wins a tie.  Tables: TIA-102.BABA Annexes L, O-R.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace ostrel_mbe::ambe_plus2_wire::dequantize {

// The codebook entry nearest to target; a plain loop over the contiguous entries.
template <std::size_t Dim>
std::size_t nearest_entry(std::span<const std::array<float, Dim>> codebook, const std::array<double, Dim>& target) {
    std::size_t best = 0;
    double best_distance = 0.0;
    for (std::size_t i = 0; i < codebook.size(); ++i) {
        double distance = 0.0;
        for (std::size_t d = 0; d < Dim; ++d) {
            const double diff = target[d] - static_cast<double>(codebook[i][d]);
            distance += diff * diff;
        }
        if (i == 0 || distance < best_distance) {
            best = i;
            best_distance = distance;
        }
    }
    return best;
}

// Bounds of the coded fundamental (radians per sample): the pitch table's first and last
// entries as exact fractions of the sampling rate.  Compared in 64-bit.
inline constexpr double OMEGA0_MIN = 0.05105094721951336;
inline constexpr double OMEGA0_MAX = 0.31397731707453724;

// b0: the pitch table entry nearest to omega0 (64-bit distances; on an exact tie the lower
// index, the larger omega0).  omega0 need not be inside the table's range.
std::uint16_t pitch_index(double omega0);

// b2: the gain level nearest to the gain difference d; 0 at or below the lowest level, 31 at
// or above the highest; ties to the lower index.  A NaN gives 0.
std::uint16_t gain_index(double d);

}  // namespace ostrel_mbe::ambe_plus2_wire::dequantize
