// SPDX-License-Identifier: GPL-2.0-or-later
#include "codecs/mbe_baseline/analysis/ambe_plus2_encode.h"

#include <array>
#include <cmath>

#include "ambe_plus2_wire/codebook_search.h"
#include "ambe_plus2_wire/dequantize.h"
#include "ambe_plus2_wire/generated_tables.h"
#include "common/check.h"

namespace ostrel_mbe::codecs::mbe_baseline::analysis {

namespace dq = ambe_plus2_wire::dequantize;

std::optional<std::size_t> ambe_plus2_pitch_entry(double omega0) {
    // Anything outside [0, 1] is far outside the coded range; refusing it here also keeps the
    // narrowing to 32 bits within the float range.
    if (!(omega0 >= 0.0 && omega0 <= 1.0)) return std::nullopt;
    // The wire carries the fundamental as a 32-bit float, so the range and the nearest entry are
    // judged on that value, exactly as the quantizer will see it.
    const double w = static_cast<double>(static_cast<float>(omega0));
    if (w > dq::OMEGA0_MAX || w < dq::OMEGA0_MIN) return std::nullopt;
    // With w a widened float, the bisection's 64-bit comparisons equal 32-bit ones.
    return dq::pitch_index(w);
}

std::optional<std::uint8_t> fit_ambe_plus2_harmonic_count(double omega0) {
    const std::optional<std::size_t> entry = ambe_plus2_pitch_entry(omega0);
    if (!entry) return std::nullopt;
    return ambe_plus2_wire::tables::PITCH[*entry].harmonics;
}

std::expected<void, AnalysisError> update_ambe_plus2_predictor(predictor::AmbePlus2PredictorState& state,
                                                               const MbeParams& params) {
    OSTREL_CHECK(state.count <= L_HAT_MAX, "encoder-side predictor count stays within L_HAT_MAX");
    // Entry 0 is a placeholder in the quantizer's convention, not a harmonic.
    std::array<double, predictor::SLOTS> seed_lambda = state.lambda;
    seed_lambda[0] = 0.0;
    const dq::DecoderState seeded = dq::DecoderState::from_lambda_state(
        std::span<const double>(seed_lambda.data(), std::size_t{state.count} + 1), state.count, state.gain);

    dq::DecoderState encoder = seeded;
    const auto u = dq::quantize(params, encoder);
    if (!u) return std::unexpected(AnalysisError::PitchOutOfRange);
    // The quantizer keeps the unquantised log amplitudes; what a decoder holds comes only from
    // dequantizing the vectors it would receive.
    dq::DecoderState decoder = seeded;
    if (!dq::dequantize(*u, decoder)) return std::unexpected(AnalysisError::PitchOutOfRange);

    const dq::DecoderState::LambdaSnapshot snapshot = decoder.lambda_tilde_snapshot();
    OSTREL_CHECK(decoder.previous_l <= L_HAT_MAX, "encoder-side predictor count stays within L_HAT_MAX");
    for (std::size_t l = 1; l <= decoder.previous_l; ++l) state.lambda[l] = snapshot.values[l];
    state.count = decoder.previous_l;
    state.gain = decoder.previous_gamma;
    return {};
}

std::expected<std::optional<MbeParams>, AnalysisError> encode_ambe_plus2(std::span<const std::int16_t> samples,
                                                                         AnalysisState& state, PredictorCopy predictor) {
    auto front = analyse_front_end(samples, state, AMBE_PLUS2_FRONT_END);
    if (!front) return std::unexpected(front.error());
    if (!front->has_value()) return std::optional<MbeParams>{};
    const FrontEndResult& frame = **front;

    // A fundamental the half-rate pitch table cannot carry is silence whatever the dispatch
    // settings say.
    if (!frame.fundamental_in_range || is_silence_frame(state, frame)) {
        dispatch_silence(state, frame);
        return std::optional<MbeParams>{};
    }
    auto params = build_params(frame);
    if (!params) return std::unexpected(params.error());
    if (predictor == PredictorCopy::Track) {
        if (auto updated = update_ambe_plus2_predictor(state.ambe_plus2_predictor, *params); !updated) {
            return std::unexpected(updated.error());
        }
    }
    update_pitch_tracker(state, frame.tracker_period, frame.tracker_error);
    return std::optional<MbeParams>{*params};
}

}  // namespace ostrel_mbe::codecs::mbe_baseline::analysis
