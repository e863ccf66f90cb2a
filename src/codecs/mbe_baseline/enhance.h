// Spectral amplitude enhancement (energy-preserving formant sharpening) and adaptive smoothing
// (error-driven forced voicing and total-amplitude cap) after TIA-102.BABA.  Linear 32-bit
// amplitudes in and out, index l-1 holding harmonic l; 64-bit arithmetic.  The formant weight
// comes in two forms (FormantWeighting).
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "mbe_params.h"

namespace ostrel_mbe::codecs::mbe_baseline {

inline constexpr double SMOOTHED_ENERGY_RESET = 75000.0;
inline constexpr double SMOOTHED_ENERGY_FLOOR = 10000.0;
inline constexpr double AMPLITUDE_THRESHOLD_RESET = 20480.0;

// How the formant weight W_l is formed; both clamp W_l to [0.5, 1.2], leave the lowest eighth of
// the harmonics alone and restore the frame energy afterwards.
//   Compat:   W_l = sqrt(M_l) (0.96 Q / (R0 w0 (R0 - R1)))^(1/4), the library's long-standing
//             form.  It grows with the square root of the amplitude level, so at speech levels
//             nearly every weight sits at the 1.2 clamp and formants are hardly sharpened.
//   Standard: W_l = sqrt(M_l) (0.96 pi Q / (R0 w0 (R0^2 - R1^2)))^(1/4), the form of
//             TIA-102.BABA: dimensionless, so the same spectrum is weighted alike at any level.
// with R0 = sum M_l^2, R1 = sum M_l^2 cos(w0 l), Q = R0^2 + R1^2 - 2 R0 R1 cos(w0 l).
enum class FormantWeighting : std::uint8_t { Compat = 0, Standard = 1 };

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
