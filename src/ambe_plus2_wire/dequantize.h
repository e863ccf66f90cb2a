// SPDX-License-Identifier: GPL-2.0-or-later
// AMBE+2 half-rate parameter quantizer (TIA-102.BABA half-rate parameter encoding): MbeParams
// to the information vectors u0..u3 and back.  Pitch index into a 120-entry table, voicing
// codebook over eight bands, differential gain, and log2 spectral amplitudes coded as a
// prediction residual in four DCT blocks.  64-bit arithmetic; MbeParams carry 32-bit values.
// The single steps live in block_dct.h, log_prediction.h, voicing.h, codebook_search.h and
// tone.h, all in this namespace.
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <span>
#include <variant>

#include "ambe_plus2_wire/block_dct.h"
#include "ambe_plus2_wire/codebook_search.h"
#include "ambe_plus2_wire/dct_cos.h"
#include "ambe_plus2_wire/log_prediction.h"
#include "ambe_plus2_wire/tone.h"
#include "ambe_plus2_wire/voicing.h"
#include "imbe_wire/dequantize.h"
#include "mbe_params.h"

namespace ostrel_mbe::ambe_plus2_wire::dequantize {

using DecodeError = imbe_wire::dequantize::DecodeError;
using DecodeErrorKind = imbe_wire::dequantize::DecodeErrorKind;

// Quantised values b0..b8.
using BValues = std::array<std::uint16_t, 9>;

// b0 values from here up mark erasure and tone frames.
inline constexpr std::uint16_t FIRST_RESERVED_PITCH = 120;

// Cross-frame predictor state of one coded stream (encoder or decoder side).
struct DecoderState {
    // log2 amplitudes of the previous frame at [1..previous_l]; entries above repeat the
    // value at previous_l; [0] is not used.
    PreviousLambda previous_lambda = filled(1.0);
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

private:
    static constexpr PreviousLambda filled(double v) {
        PreviousLambda a{};
        a.fill(v);
        return a;
    }
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

// quantize for an encoder that tracks its receiver: on success the state holds exactly what a
// decoder of the returned vectors holds (unchanged when a decoder would refuse them), rather
// than the unquantised log2 amplitudes that quantize alone keeps and no decoder ever sees.
std::expected<InfoVectors, DecodeError> quantize_closed_loop(const MbeParams& params, DecoderState& state);

// Dequantizes one voice frame; BadPitch for b0 >= 120, InvalidParams for amplitudes that
// fail validation.  The state is updated on success only.
std::expected<MbeParams, DecodeError> dequantize(const InfoVectors& u, DecoderState& state);

// The decoder's entry point: tone frames and erasures (b0 >= 120) leave the state alone,
// everything else goes through dequantize.
DecodedFrame decode_to_params(const InfoVectors& u, DecoderState& state);

}  // namespace ostrel_mbe::ambe_plus2_wire::dequantize
