// SPDX-License-Identifier: GPL-2.0-or-later
// Voiced synthesis: one sinusoid per voiced harmonic with cross-frame phase tracking; steady low
// harmonics are interpolated, the others cross-fade under wS.  Fundamental in radians per sample,
// linear amplitudes in, 160 samples at 8000 samples/s out.  Method of TIA-102.BABA.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "mbe_params.h"

namespace ostrel_mbe::codecs::mbe_baseline {

inline constexpr std::uint8_t VOICED_HARMONIC_COUNT_RESET = 30;
inline constexpr double VOICED_OMEGA0_RESET = 0.09377654070965533;

// cos and sin of one angle.
struct Phasor {
    double re = 1.0;
    double im = 0.0;
};

// Per-harmonic memory, index l for harmonic l = 1..56 (index 0 unused).  The phase track is kept
// within [-pi, pi) (it grows by l (omega0(-1) + omega0) 80 every frame and would otherwise leave
// the range where cos is exact and fast within an hour); phi_l is the track plus an offset of at
// most 56 pi, so it stays bounded too.
struct VoicedState {
    std::array<double, L_HAT_MAX + 1> phase{};        // phi_l(-1), phase at the end of the last frame
    std::array<double, L_HAT_MAX + 1> phase_track{};  // psi_l(-1), in [-pi, pi)
    // e^{i phi_l(-1)} for the harmonics voiced in the last frame (the only ones read).
    std::array<Phasor, L_HAT_MAX + 1> phasor{};
    std::array<double, L_HAT_MAX + 1> amplitude{};    // M_l(-1)
    std::array<std::uint8_t, L_HAT_MAX + 1> voiced{};
    std::uint8_t harmonic_count = VOICED_HARMONIC_COUNT_RESET;  // L(-1)
    double omega0 = VOICED_OMEGA0_RESET;                        // omega0(-1)
};

// amplitudes and voiced: the L synthesis amplitudes and flags; noise: u(1..56) of this frame's
// noise window; ambe_plus: regenerated instead of random upper-harmonic phases; modulus: the
// noise generator's modulus (0 meaning 2^32); omega0 in radians per sample.
std::array<double, 160> synthesize_voiced_with_lcg_modulus(std::span<const float> amplitudes,
                                                           std::span<const bool> voiced,
                                                           std::span<const double, L_HAT_MAX> noise,
                                                           bool ambe_plus, std::uint32_t modulus,
                                                           VoicedState& state, float omega0);

}  // namespace ostrel_mbe::codecs::mbe_baseline
