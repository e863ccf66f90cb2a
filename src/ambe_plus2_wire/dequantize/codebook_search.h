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

// The M nearest of the entries offered in index order, nearest first: an entry goes behind
// every kept entry that is not farther, so on equal distances the lower index ranks first.
template <std::size_t M>
class NearestKept {
public:
    void offer(std::size_t index, double distance) {
        if (kept_ == M && !(distance < distance_[M - 1])) return;
        std::size_t slot = kept_ < M ? kept_++ : M - 1;
        while (slot > 0 && distance < distance_[slot - 1]) {
            index_[slot] = index_[slot - 1];
            distance_[slot] = distance_[slot - 1];
            --slot;
        }
        index_[slot] = index;
        distance_[slot] = distance;
    }
    const std::array<std::size_t, M>& indices() const { return index_; }
    // Once M entries are kept, offer keeps only an entry nearer than this.
    bool full() const { return kept_ == M; }
    double farthest() const { return distance_[M - 1]; }

private:
    std::array<std::size_t, M> index_{};
    std::array<double, M> distance_{};
    std::size_t kept_ = 0;
};

// The M codebook entries nearest to target, nearest first; a plain loop over the contiguous
// entries, and on equal distances the lower index ranks first.  Requires M <= codebook.size().
template <std::size_t M, std::size_t Dim>
std::array<std::size_t, M> nearest_entries(std::span<const std::array<float, Dim>> codebook,
                                           const std::array<double, Dim>& target) {
    NearestKept<M> nearest;
    for (std::size_t i = 0; i < codebook.size(); ++i) {
        double distance = 0.0;
        for (std::size_t d = 0; d < Dim; ++d) {
            const double diff = target[d] - static_cast<double>(codebook[i][d]);
            distance += diff * diff;
        }
        nearest.offer(i, distance);
    }
    return nearest.indices();
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
