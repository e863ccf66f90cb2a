// SPDX-License-Identifier: GPL-2.0-or-later
// Voicing decision: per band of three harmonics, the normalised error of a harmonic fit to the
// 256-bin spectrum is compared with an energy- and frequency-dependent threshold that has
// hysteresis on the previous frame's decision.  Bands k = 1..K (K <= 12); thresholds after the
// IMBE voicing rule of TIA-102.BABA.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "codecs/mbe_baseline/analysis/basis.h"
#include "codecs/mbe_baseline/analysis/refine.h"

namespace ostrel_mbe::codecs::mbe_baseline::analysis::vuv {

inline constexpr std::size_t BAND_SLOTS = 13;  // index 0 unused, bands 1..12

// Cross-frame memory of the decision.
struct VoicingState {
    double peak_energy = 20000.0;  // xi_max
    std::array<bool, BAND_SLOTS> previous_voiced{};
    std::uint8_t previous_band_count = 0;

    friend bool operator==(const VoicingState&, const VoicingState&) = default;
};

struct VuvDecision {
    std::array<double, BAND_SLOTS> band_error{};  // D_k
    std::array<double, BAND_SLOTS> threshold{};   // Theta_k
    double energy_scale = 0.0;                    // M
    double frame_energy = 0.0;                    // xi_0
    double peak_energy = 0.0;                     // xi_max after this frame
    std::uint8_t band_count = 0;                  // K
    std::array<bool, BAND_SLOTS> voiced{};        // v[k]

    friend bool operator==(const VuvDecision&, const VuvDecision&) = default;
};

// K = 12 when L > 36, otherwise floor((L + 2) / 3).
std::uint8_t band_count(std::uint8_t harmonic_count);
// Band of harmonic l (1-based): min(K, floor((l + 2) / 3)).
std::size_t band_of(std::size_t l, std::uint8_t band_count);
// Harmonic l (1..L) is voiced when K >= 1 and its band is voiced.
bool harmonic_voiced(const VuvDecision& decision, std::size_t l);

VuvDecision determine_vuv(const basis::Spectrum& spectrum, std::span<const double, basis::BASIS_LENGTH> basis,
                          const refine::RefinedPitch& pitch, VoicingState& state, double pitch_error);

}  // namespace ostrel_mbe::codecs::mbe_baseline::analysis::vuv
