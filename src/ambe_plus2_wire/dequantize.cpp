// SPDX-License-Identifier: GPL-2.0-or-later
#include "ambe_plus2_wire/dequantize.h"

#include "ambe_plus2_wire/ambe_plus2_tables.h"
#include "ambe_plus2_wire/dequantize/codebook_columns.h"
#include "ambe_plus2_wire/priority.h"
#include "common/check.h"
#include "common/exp2_log2.h"
#include "common/simd.h"

#include <cmath>
#include <limits>

namespace ostrel_mbe::ambe_plus2_wire::dequantize {
namespace {

// Log2 amplitude standing in for a silent harmonic.
constexpr double SILENT_LOG2 = -1000.0;

DecodeError bad_pitch() { return DecodeError{DecodeErrorKind::BadPitch}; }

// Out-of-range double to float conversion is undefined; map it to the infinity that
// validation then rejects.
float to_float(double x) {
    if (x > static_cast<double>(std::numeric_limits<float>::max())) return std::numeric_limits<float>::infinity();
    if (x < -static_cast<double>(std::numeric_limits<float>::max())) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(x);
}

void store_lambda(DecoderState& state, const Residuals& lambda, std::uint8_t l) {
    for (std::size_t i = 1; i <= l; ++i) state.previous_lambda[i] = lambda[i - 1];
    for (std::size_t i = std::size_t{l} + 1; i < state.previous_lambda.size(); ++i) {
        state.previous_lambda[i] = lambda[l - 1];
    }
    state.previous_l = l;
}

}  // namespace

DecoderState DecoderState::from_lambda_state(std::span<const double> lambda, std::uint8_t l, double gamma) {
    OSTREL_CHECK(l <= L_HAT_MAX, "seeded harmonic count fits the predictor");
    OSTREL_CHECK(lambda.size() > l, "seed sequence holds entries 1..L");
    DecoderState state;
    for (std::size_t i = 1; i <= l; ++i) state.previous_lambda[i] = lambda[i];
    if (l > 0) {
        for (std::size_t i = std::size_t{l} + 1; i < state.previous_lambda.size(); ++i) {
            state.previous_lambda[i] = lambda[l];
        }
    }
    state.previous_l = l;
    state.previous_gamma = gamma;
    return state;
}

DecoderState::LambdaSnapshot DecoderState::lambda_tilde_snapshot() const {
    LambdaSnapshot snapshot;
    snapshot.size = std::size_t{previous_l} + 1;
    OSTREL_CHECK(snapshot.size <= snapshot.values.size(), "previous harmonic count fits the predictor state");
    snapshot.values[0] = 0.0;
    for (std::size_t i = 1; i < snapshot.size; ++i) snapshot.values[i] = previous_lambda[i];
    return snapshot;
}

const MbeParams* DecodedFrame::params() const {
    if (const auto* voice = std::get_if<Voice>(&kind)) return &voice->params;
    if (const auto* tone = std::get_if<Tone>(&kind)) return &tone->params;
    return nullptr;
}

// quantize, writing its targets, and the prediction basis too when asked.  Built for AVX2 and for
// the baseline instruction set (the same operations in the same order).
OSTREL_AVX2_CLONES
std::expected<InfoVectors, DecodeError> quantize_frame(const MbeParams& params, DecoderState& state,
                                                       QuantizerTargets& targets, bool with_basis) {
    const double omega0 = params.omega0();
    if (!std::isfinite(omega0) || omega0 < OMEGA0_MIN || omega0 > OMEGA0_MAX) return std::unexpected(bad_pitch());

    BValues b{};
    b[0] = pitch_index(omega0);
    const std::uint8_t l = params.harmonic_count();
    const BlockLengths j = block_lengths(l);
    b[1] = encode_vuv(params.voiced(), omega0);

    const double unvoiced_scale = UNVOICED_SCALE / std::sqrt(omega0);
    Residuals lambda{};
    for (std::size_t i = 0; i < l; ++i) {
        const double m = params.amplitudes()[i];
        if (!(m > 0.0)) {
            lambda[i] = SILENT_LOG2;
        } else {
            lambda[i] = params.voiced()[i] ? std::log2(m) : std::log2(m / unvoiced_scale);
        }
    }
    const ForwardPrediction& prediction = targets.prediction =
        with_basis ? forward_log_prediction(lambda, l, state.previous_lambda, state.previous_l, targets.basis)
                   : forward_log_prediction(lambda, l, state.previous_lambda, state.previous_l);
    b[2] = gain_index(prediction.gamma - 0.5 * state.previous_gamma);

    const CoefficientMatrix& c = targets.coefficients = forward_coded_block_dct(prediction.residuals, j);
    const Prba& g = targets.prba = forward_prba_dct(prba_from_coefficients(c));
    b[3] = static_cast<std::uint16_t>(nearest_entry(prba24_columns(), {g[1], g[2], g[3]}));
    b[4] = static_cast<std::uint16_t>(nearest_entry(prba58_columns(), {g[4], g[5], g[6], g[7]}));
    const HocIndices hoc = quantize_hoc_all(c, j);
    for (std::size_t i = 0; i < BLOCK_COUNT; ++i) b[5 + i] = hoc[i];

    store_lambda(state, lambda, l);
    state.previous_gamma = 0.5 * state.previous_gamma + static_cast<double>(tables::GAIN_LEVELS[b[2]]);
    return priority::prioritize(b);
}

std::expected<InfoVectors, DecodeError> quantize(const MbeParams& params, DecoderState& state) {
    QuantizerTargets unused;
    return quantize_frame(params, state, unused, false);
}

std::expected<InfoVectors, DecodeError> quantize(const MbeParams& params, DecoderState& state,
                                                 QuantizerTargets& targets) {
    return quantize_frame(params, state, targets, true);
}

std::expected<InfoVectors, DecodeError> quantize_closed_loop(const MbeParams& params, DecoderState& state) {
    DecoderState scratch = state;
    QuantizerTargets targets;
    auto u = quantize(params, scratch, targets);
    if (!u) return u;
    // The decoder's prediction basis is the quantizer's when the pitch entry has the record's
    // harmonic count (always, for the encoder's own analysis): the same state, the same l.
    const BValues b = priority::deprioritize(*u);
    if (b[0] < FIRST_RESERVED_PITCH && tables::PITCH[b[0]].harmonics == targets.basis.l) {
        (void)dequantize_state(b, state, targets.basis);
    } else {
        (void)dequantize(*u, state);
    }
    return u;
}

LogAmplitudes reconstruct_log_amplitudes(const BValues& b, const DecoderState& state) {
    OSTREL_CHECK(b[0] < FIRST_RESERVED_PITCH, "a voice frame's pitch index");
    return reconstruct_log_amplitudes(
        b, state, prediction_basis(tables::PITCH[b[0]].harmonics, state.previous_lambda, state.previous_l));
}

Prba prba_values(const BValues& b) {
    Prba g{};
    for (std::size_t m = 0; m < 3; ++m) g[1 + m] = static_cast<double>(tables::PRBA24[b[3]][m]);
    for (std::size_t m = 0; m < 4; ++m) g[4 + m] = static_cast<double>(tables::PRBA58[b[4]][m]);
    return g;
}

CoefficientMatrix frame_coefficients(const BValues& b, const BlockLengths& j) {
    return assemble_hoc_matrix(inverse_prba_dct(prba_values(b)), {b[5], b[6], b[7], b[8]}, j);
}

double frame_gain(const BValues& b, const DecoderState& state) {
    return 0.5 * state.previous_gamma + static_cast<double>(tables::GAIN_LEVELS[b[2]]);
}

LogAmplitudes reconstruct_log_amplitudes(const BValues& b, const DecoderState& state, const PredictionBasis& basis) {
    OSTREL_CHECK(b[0] < FIRST_RESERVED_PITCH, "a voice frame's pitch index");
    const std::uint8_t l = tables::PITCH[b[0]].harmonics;
    OSTREL_CHECK(basis.l == l, "the prediction basis is for the frame's harmonic count");
    const BlockLengths j = block_lengths(l);
    const double gamma = frame_gain(b, state);
    const Residuals t = inverse_block_dct(frame_coefficients(b, j), j);
    return {apply_log_prediction(t, gamma, basis), gamma, l};
}

namespace {

// dequantize of the values b that the vectors carry, from their rebuilt log2 amplitudes.  Built
// for AVX2 too, for the four-lane powers of two.
OSTREL_AVX2_CLONES
std::expected<MbeParams, DecodeError> dequantize_rebuilt(const BValues& b, const LogAmplitudes& rebuilt,
                                                         DecoderState& state) {
    const float omega0 = tables::PITCH[b[0]].omega0;
    const auto& [lambda, gamma, l] = rebuilt;

    std::array<bool, L_HAT_MAX> voiced{};
    for (std::size_t i = 1; i <= l; ++i) voiced[i - 1] = tables::VUV_CODEBOOK[b[1]][band_of(i, omega0)];

    const double unvoiced_scale = UNVOICED_SCALE / std::sqrt(static_cast<double>(omega0));
    std::array<float, L_HAT_MAX> amplitudes{};
    // 2^lambda four at a time, within an ulp of std::exp2 (and rounded to 32 bits after).
    std::array<double, L_HAT_MAX> linear;
    static_assert(L_HAT_MAX % 4 == 0);
    common::exp2_lanes(lambda.data(), l, linear.data());
    for (std::size_t i = 0; i < l; ++i) {
        const double m = linear[i];
        amplitudes[i] = to_float(voiced[i] ? m : unvoiced_scale * m);
    }
    auto params = MbeParams::create(omega0, std::span<const bool>(voiced.data(), l),
                                    std::span<const float>(amplitudes.data(), l));
    if (!params) return std::unexpected(DecodeError{DecodeErrorKind::InvalidParams, params.error()});

    store_lambda(state, lambda, l);
    state.previous_gamma = gamma;
    return *params;
}

std::expected<MbeParams, DecodeError> dequantize_values(const BValues& b, DecoderState& state) {
    if (b[0] >= FIRST_RESERVED_PITCH) return std::unexpected(bad_pitch());
    return dequantize_rebuilt(b, reconstruct_log_amplitudes(b, state), state);
}

}  // namespace

std::expected<MbeParams, DecodeError> dequantize_values(const BValues& b, DecoderState& state,
                                                        const PredictionBasis& basis) {
    if (b[0] >= FIRST_RESERVED_PITCH) return std::unexpected(bad_pitch());
    return dequantize_rebuilt(b, reconstruct_log_amplitudes(b, state, basis), state);
}

std::expected<MbeParams, DecodeError> dequantize(const InfoVectors& u, DecoderState& state) {
    return dequantize_values(priority::deprioritize(u), state);
}

bool dequantize_state(const BValues& b, DecoderState& state, const PredictionBasis& basis) {
    if (b[0] >= FIRST_RESERVED_PITCH) return false;
    const LogAmplitudes rebuilt = reconstruct_log_amplitudes(b, state, basis);
    // The rebuild refuses a frame only when an amplitude, 2^lambda or the unvoiced level times
    // it, is not a finite 32-bit value.  Below 2^120 (with a level under 64) none can round to
    // infinity: then the state moves without the amplitudes; otherwise, and for a NaN, they are
    // worked out and checked.
    const double unvoiced_scale = UNVOICED_SCALE / std::sqrt(static_cast<double>(tables::PITCH[b[0]].omega0));
    bool small = unvoiced_scale < 64.0;
    for (std::size_t i = 0; i < rebuilt.l; ++i) small &= rebuilt.lambda[i] < 120.0;
    if (!small) return dequantize_rebuilt(b, rebuilt, state).has_value();
    store_lambda(state, rebuilt.lambda, rebuilt.l);
    state.previous_gamma = rebuilt.gamma;
    return true;
}

DecodedFrame decode_to_params(const InfoVectors& u, DecoderState& state) {
    if (const auto tone = read_tone_frame(u)) {
        if (auto params = tone_to_mbe_params(tone->index, tone->amplitude)) {
            return {DecodedFrame::Tone{tone->index, tone->amplitude, *params}};
        }
        return {DecodedFrame::Error{bad_pitch()}};
    }
    const BValues b = priority::deprioritize(u);
    if (b[0] >= FIRST_RESERVED_PITCH) return {DecodedFrame::Erasure{}};
    auto params = dequantize_values(b, state);
    if (!params) return {DecodedFrame::Error{params.error()}};
    return {DecodedFrame::Voice{*params}};
}

}  // namespace ostrel_mbe::ambe_plus2_wire::dequantize
