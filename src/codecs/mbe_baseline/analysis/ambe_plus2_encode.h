// SPDX-License-Identifier: GPL-2.0-or-later
// The MBE analysis encoder for the half rate: one 160-sample PCM frame (8000 samples/s) in, the
// MbeParams of the frame received two calls earlier out (none during warm-up and for silence).
// Shares the full-rate front end; fits L to the half-rate pitch table (TIA-102.BABA Annex L) and
// keeps the encoder-side predictor in the half-rate quantizer's log2 terms.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>

#include "codecs/mbe_baseline/analysis/analysis.h"
#include "analysis_error.h"
#include "codecs/mbe_baseline/analysis/predictor.h"
#include "mbe_params.h"

namespace ostrel_mbe::codecs::mbe_baseline::analysis {

// The half-rate pitch table entry for a refined fundamental (radians per sample): w = omega0
// rounded to 32 bits; none when w is NaN or outside the coded range, else the nearer of the two
// entries around w, the larger fundamental (lower index) on an exact tie.
std::optional<std::size_t> ambe_plus2_pitch_entry(double omega0);

// The harmonic count of that entry; none outside the coded range.
std::optional<std::uint8_t> fit_ambe_plus2_harmonic_count(double omega0);

// How the half-rate path drives the shared front end: no look-back or look-ahead when PYIN
// supplies the pitch (nothing reads them without a trace), L from the pitch table.
inline constexpr FrontEndOptions AMBE_PLUS2_FRONT_END{false, &fit_ambe_plus2_harmonic_count};

// Quantizes params against a half-rate quantizer seeded from the predictor, dequantizes the
// result as a decoder holding that state would, and moves the predictor to the decoder's state.
// Entries above the new count keep their values.  A refusal by either step is PitchOutOfRange and
// leaves the predictor unchanged.
std::expected<void, AnalysisError> update_ambe_plus2_predictor(predictor::AmbePlus2PredictorState& state,
                                                               const MbeParams& params);

// None during warm-up and for silence frames (silence dispatch, or a fundamental outside the
// half-rate range); WrongFrameLength unless samples holds 160 values, the state then untouched.
// PredictorCopy::Skip leaves the half-rate predictor copy alone (see encode_with_trace).
std::expected<std::optional<MbeParams>, AnalysisError> encode_ambe_plus2(std::span<const std::int16_t> samples,
                                                                         AnalysisState& state,
                                                                         PredictorCopy predictor = PredictorCopy::Track);

}  // namespace ostrel_mbe::codecs::mbe_baseline::analysis
