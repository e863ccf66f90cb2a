// SPDX-License-Identifier: GPL-2.0-or-later
// Phase regeneration for half-rate voiced speech: a truncated discrete Hilbert transform of the
// log2 harmonic amplitudes across the harmonic index, giving each harmonic a minimum-phase-like
// offset in radians.  Kernel 0.88/(j pi), j = 1..19; amplitudes are linear 32-bit values.
#pragma once

#include <array>
#include <numbers>
#include <span>

#include "mbe_params.h"

namespace ostrel_mbe::codecs::mbe_baseline::phase_regen {

inline constexpr std::size_t KERNEL_TAPS = 20;

// KERNEL[0] is unused (0); KERNEL[j] = 0.88 / (j pi).  Evaluated once, at compile time.
inline constexpr std::array<double, KERNEL_TAPS> KERNEL = [] {
    std::array<double, KERNEL_TAPS> k{};
    for (std::size_t j = 1; j < KERNEL_TAPS; ++j) k[j] = 0.88 / (static_cast<double>(j) * std::numbers::pi);
    return k;
}();

// log2 of the amplitude floor 1e-10, used for silent harmonics instead of minus infinity.
inline constexpr double LOG2_AMPLITUDE_FLOOR = -33.219280948873624;

// amplitudes: the L (0..56) synthesis amplitudes, index l-1 holding harmonic l.  Writes the phase
// offset r_l of harmonic l to phases[l] for l = 1..L and 0 to every other entry.
void ambe_phase_regen(std::span<const float> amplitudes, std::array<double, L_HAT_MAX + 1>& phases);

}  // namespace ostrel_mbe::codecs::mbe_baseline::phase_regen
