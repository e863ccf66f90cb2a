// SPDX-License-Identifier: GPL-2.0-or-later
// Encoder-side copies of the decoders' amplitude predictors: what a decoder holds after the last
// voice frame, kept in the analysis state so the encoder can seed its quantizer in closed loop.
// IMBE: linear amplitudes M~[0..56] (M~[0] = 1.0) and their count; AMBE+2: log2 amplitudes, gain
// memory and harmonic count of the half-rate decoder.
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <span>

#include "analysis_error.h"
#include "mbe_params.h"

namespace ostrel_mbe::codecs::mbe_baseline::analysis::predictor {

inline constexpr std::size_t SLOTS = L_HAT_MAX + 1;

template <std::size_t N>
constexpr std::array<double, N> filled(double value) {
    std::array<double, N> a{};
    a.fill(value);
    return a;
}

// A count and up to 56 32-bit amplitudes, viewed as a slice without allocating.
struct AmplitudeSlice {
    std::array<float, L_HAT_MAX> values{};
    std::uint8_t count = 0;
    std::span<const float> slice() const { return {values.data(), count}; }
};

struct PredictorState {
    std::array<double, SLOTS> amplitudes = filled<SLOTS>(1.0);  // M~[0..56]
    std::uint8_t count = 30;                                     // L~

    // M~[1..L~] as 32-bit floats (empty when L~ = 0).
    AmplitudeSlice m_tilde_prev_slice() const;

    friend bool operator==(const PredictorState&, const PredictorState&) = default;
};

struct AmbePlus2PredictorState {
    std::array<double, SLOTS> lambda = filled<SLOTS>(1.0);  // lambda~, entry 0 not read
    double gain = 0.0;                                      // gamma~
    std::uint8_t count = 15;                                // L~

    friend bool operator==(const AmbePlus2PredictorState&, const AmbePlus2PredictorState&) = default;
};

// Quantizes params against a quantizer seeded from the predictor and moves the predictor to the
// amplitudes a decoder will reconstruct.  A quantizer refusal is PitchOutOfRange and leaves the
// predictor unchanged.
std::expected<void, AnalysisError> update_imbe_predictor(PredictorState& state, const MbeParams& params);

}  // namespace ostrel_mbe::codecs::mbe_baseline::analysis::predictor
