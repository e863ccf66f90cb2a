// SPDX-License-Identifier: GPL-2.0-or-later
// AMBE+2 half-rate parameter quantizer (TIA-102.BABA half-rate parameter encoding): MbeParams
// to the information vectors u0..u3 and back.  Pitch index into a 120-entry table, voicing
// codebook over eight bands, differential gain, and log2 spectral amplitudes coded as a
// prediction residual in four DCT blocks.  64-bit arithmetic; MbeParams carry 32-bit values.
// The single steps live in dequantize/ (block_dct, log_prediction, voicing, codebook_search
// and tone), all in this namespace, as the full rate keeps its steps in imbe_wire/dequantize/.
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <span>
#include <variant>

#include "ambe_plus2_wire/dequantize/block_dct.h"
#include "ambe_plus2_wire/dequantize/codebook_search.h"
#include "ambe_plus2_wire/dequantize/log_prediction.h"
#include "ambe_plus2_wire/dequantize/tone.h"
#include "ambe_plus2_wire/dequantize/voicing.h"
#include "common/filled.h"
#include "mbe_params.h"
#include "wire_common/decode_error.h"

namespace ostrel_mbe::ambe_plus2_wire::dequantize {

using wire_common::DecodeError;
using wire_common::DecodeErrorKind;

// Quantised values b0..b8.
using BValues = std::array<std::uint16_t, 9>;

// Unvoiced harmonics are coded relative to this level over sqrt(omega0).
inline constexpr double UNVOICED_SCALE = 0.2046;

// b0 values from here up mark erasure and tone frames.
inline constexpr std::uint16_t FIRST_RESERVED_PITCH = 120;

// Cross-frame predictor state of one coded stream (encoder or decoder side).
struct DecoderState {
    // log2 amplitudes of the previous frame at [1..previous_l]; entries above repeat the
    // value at previous_l; [0] is not used.
    PreviousLambda previous_lambda = common::filled<double, std::tuple_size_v<PreviousLambda>>(1.0);
    double previous_gamma = 0.0;
    std::uint8_t previous_l = 15;

    // previous_lambda[l] = lambda[l] for l = 1..l, the value at l above (all 1.0 for l = 0);
    // lambda[0] is ignored.  Requires l <= 56 and lambda.size() > l.
    static DecoderState from_lambda_state(std::span<const double> lambda, std::uint8_t l, double gamma);

    // 0.0 followed by previous_lambda[1..previous_l]: previous_l + 1 values.
    struct LambdaSnapshot {
        std::array<double, 58> values{};
        std::size_t size = 0;
        std::span<const double> view() const { return {values.data(), size}; }
    };
    LambdaSnapshot lambda_tilde_snapshot() const;

    friend bool operator==(const DecoderState&, const DecoderState&) = default;
};

// What one received frame turned out to be.
struct DecodedFrame {
    struct Voice {
        MbeParams params;
    };
    struct Tone {
        std::uint8_t index;
        std::uint8_t amplitude;
        MbeParams params;
    };
    struct Erasure {};
    struct Error {
        DecodeError error;
    };
    std::variant<Voice, Tone, Erasure, Error> kind;

    // The parameters of a voice or tone frame, null otherwise.
    const MbeParams* params() const;
};

// Quantizes one frame against the encoder's state.  omega0 (widened to 64 bits) must lie in
// OMEGA0_MIN..OMEGA0_MAX, otherwise BadPitch and the state is unchanged; the record's L is
// used for the block lengths.  On success the state holds the unquantised log2 amplitudes
// and the decoder's gain.
std::expected<InfoVectors, DecodeError> quantize(const MbeParams& params, DecoderState& state);

// What quantize searched its codebooks for: the prediction residuals and gain, their block DCT
// coefficients that the codebooks carry (forward_coded_block_dct) and the PRBA vector G (G_1
// left 0); and the state's prediction basis for the frame's harmonic count.
struct QuantizerTargets {
    ForwardPrediction prediction;
    CoefficientMatrix coefficients{};
    Prba prba{};
    PredictionBasis basis;
};
// quantize, keeping those targets for a search around its choice (written on success only).
std::expected<InfoVectors, DecodeError> quantize(const MbeParams& params, DecoderState& state,
                                                 QuantizerTargets& targets);

// quantize for an encoder that tracks its receiver: on success the state holds exactly what a
// decoder of the returned vectors holds (unchanged when a decoder would refuse them), rather
// than the unquantised log2 amplitudes that quantize alone keeps and no decoder ever sees.
std::expected<InfoVectors, DecodeError> quantize_closed_loop(const MbeParams& params, DecoderState& state);

// What a decoder holding some state rebuilds from b before voicing and amplitudes: log2
// amplitudes of harmonics 1..l at [0..l-1] (unvoiced ones relative to the unvoiced level) and
// the gain it then holds.
struct LogAmplitudes {
    Residuals lambda{};
    double gamma = 0.0;
    std::uint8_t l = 0;
};

// Requires b[0] < FIRST_RESERVED_PITCH and every other b within its codebook.
LogAmplitudes reconstruct_log_amplitudes(const BValues& b, const DecoderState& state);
// The same with the previous frame's part of the prediction worked out for b's harmonic count
// (prediction_basis of the state), for rebuilding one frame under many candidate indices.
LogAmplitudes reconstruct_log_amplitudes(const BValues& b, const DecoderState& state, const PredictionBasis& basis);

// The stages of that rebuild: the block DCT coefficients b's PRBA and higher-order entries
// carry for block lengths j, and the frame gain against the state.
CoefficientMatrix frame_coefficients(const BValues& b, const BlockLengths& j);
// G_2..G_8 of b's PRBA entries (G_1 left 0), which frame_coefficients starts from.
Prba prba_values(const BValues& b);
double frame_gain(const BValues& b, const DecoderState& state);

// Dequantizes one voice frame; BadPitch for b0 >= 120, InvalidParams for amplitudes that
// fail validation.  The state is updated on success only.
std::expected<MbeParams, DecodeError> dequantize(const InfoVectors& u, DecoderState& state);

// dequantize of the values b themselves, with the state's prediction basis for b's harmonic
// count already worked out (an encoder that rebuilt the frame under candidate indices holds it).
std::expected<MbeParams, DecodeError> dequantize_values(const BValues& b, DecoderState& state,
                                                        const PredictionBasis& basis);
// dequantize_values for an encoder's closed loop, which keeps only the state: it moves exactly
// as that call would move it (and not when that call would refuse the frame, which it reports
// as false), without building the parameters when no amplitude can be out of range.
bool dequantize_state(const BValues& b, DecoderState& state, const PredictionBasis& basis);

// The decoder's entry point: tone frames and erasures (b0 >= 120) leave the state alone,
// everything else goes through dequantize.
DecodedFrame decode_to_params(const InfoVectors& u, DecoderState& state);

}  // namespace ostrel_mbe::ambe_plus2_wire::dequantize
