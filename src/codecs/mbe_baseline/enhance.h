// SPDX-License-Identifier: GPL-2.0-or-later
// Spectral amplitude enhancement (energy-preserving formant sharpening) and adaptive smoothing
// (error-driven forced voicing and total-amplitude cap) after TIA-102.BABA.  Linear 32-bit
// amplitudes in and out, index l-1 holding harmonic l; 64-bit arithmetic.  The formant weight
// comes in two forms (FormantWeighting).
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "mbe_params.h"
#include "settings.h"  // FormantWeighting, a channel setting

namespace ostrel_mbe::codecs::mbe_baseline {

inline constexpr double SMOOTHED_ENERGY_RESET = 75000.0;
inline constexpr double SMOOTHED_ENERGY_FLOOR = 10000.0;
inline constexpr double AMPLITUDE_THRESHOLD_RESET = 20480.0;

struct EnhancedAmplitudes {
    std::array<float, L_HAT_MAX> amplitudes{};  // zero beyond L
    double smoothed_energy = SMOOTHED_ENERGY_RESET;  // S_E of this frame
};

// amplitudes: the L (0..56) decoded amplitudes; omega0 in radians per sample; smoothed_energy:
// S_E(-1).  Returns the enhanced amplitudes and the new S_E, finite for finite amplitudes and
// omega0 > 0.
EnhancedAmplitudes enhance_spectral_amplitudes(std::span<const float> amplitudes, float omega0,
                                               double smoothed_energy,
                                               FormantWeighting weighting = FormantWeighting::Compat);

struct SmoothedSpectrum {
    std::array<bool, L_HAT_MAX> voiced{};       // false beyond L
    std::array<float, L_HAT_MAX> amplitudes{};  // zero beyond L
    double amplitude_threshold = AMPLITUDE_THRESHOLD_RESET;  // tau_M of this frame
};

// amplitudes and voiced: the L enhanced amplitudes and decoded flags; total_errors: eps_T;
// errors_e4: eps_4; smoothed_energy: S_E of this frame; error_rate: eps_R as stored for this
// frame; amplitude_threshold: tau_M(-1).
SmoothedSpectrum apply_smoothing(std::span<const float> amplitudes, std::span<const bool> voiced,
                                 std::uint8_t total_errors, std::uint8_t errors_e4, double smoothed_energy,
                                 double error_rate, double amplitude_threshold);

}  // namespace ostrel_mbe::codecs::mbe_baseline
