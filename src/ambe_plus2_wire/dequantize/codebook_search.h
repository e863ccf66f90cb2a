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

// The M codebook entries nearest to target, nearest first; a plain loop over the contiguous
// entries, and on equal distances the lower index ranks first.  Requires M <= codebook.size().
template <std::size_t M, std::size_t Dim>
std::array<std::size_t, M> nearest_entries(std::span<const std::array<float, Dim>> codebook,
                                           const std::array<double, Dim>& target) {
    std::array<std::size_t, M> best{};
    std::array<double, M> best_distance{};
    std::size_t kept = 0;
    for (std::size_t i = 0; i < codebook.size(); ++i) {
        double distance = 0.0;
        for (std::size_t d = 0; d < Dim; ++d) {
            const double diff = target[d] - static_cast<double>(codebook[i][d]);
            distance += diff * diff;
        }
        if (kept == M && !(distance < best_distance[M - 1])) continue;
        // Insert behind every kept entry that is not farther, so earlier indices win ties.
        std::size_t slot = kept < M ? kept++ : M - 1;
        while (slot > 0 && distance < best_distance[slot - 1]) {
            best[slot] = best[slot - 1];
            best_distance[slot] = best_distance[slot - 1];
            --slot;
        }
        best[slot] = i;
        best_distance[slot] = distance;
    }
    return best;
}

// The codebook entry nearest to target.
template <std::size_t Dim>
std::size_t nearest_entry(std::span<const std::array<float, Dim>> codebook, const std::array<double, Dim>& target) {
    return nearest_entries<1, Dim>(codebook, target)[0];
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
