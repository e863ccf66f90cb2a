// SPDX-License-Identifier: GPL-2.0-or-later
#include "imbe_wire/dequantize.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include "common/built_once.h"
#include "common/check.h"
#include "imbe_wire/dequantize/block_dct.h"
#include "imbe_wire/dequantize/gain.h"
#include "imbe_wire/dequantize/hoc_matrix.h"
#include "imbe_wire/dequantize/log_prediction.h"
#include "imbe_wire/dequantize/vectors.h"
#include "imbe_wire/priority.h"

namespace ostrel_mbe::imbe_wire::dequantize {
namespace {

constexpr float PI = std::numbers::pi_v<float>;
constexpr float FOUR_PI = 4.0f * PI;  // exact: a power-of-two multiple of the 32-bit pi
constexpr std::uint8_t PITCH_INDEX_COUNT = 208;

// Amplitudes of zero (the fixed silence frame) or below would give log2 = -inf, and -inf turns
// into NaN in the transforms (inf - inf, 0 x inf); a NaN rounds to index 0, the most negative
// level of every coefficient, so silence would be sent as a loud, badly shaped spectrum.
// Flooring at this tiny level (about -33 in log2, the floor value phase regeneration uses)
// keeps the chain finite; the gain then clamps to its lowest level and the shape stays flat.
constexpr float AMPLITUDE_FLOOR = 1e-10f;

// The decoder reads the bits with the allocation of the L that b0 codes.  Over each pitch
// index's interval of omega0 that L is constant, so a caller that derives L from the unrounded
// fundamental agrees with it, except within float rounding of an interval edge, where b0 can
// land one index off.  Taking the neighbouring index that codes the caller's L there keeps the
// frame readable (its pitch is as close to omega0 as the other); otherwise b0 stays as computed.
std::uint8_t pitch_index_for_harmonic_count(std::uint8_t b0, std::uint8_t l) {
    if (decode_pitch(b0)->harmonic_count == l) return b0;
    for (int candidate : {b0 - 1, b0 + 1}) {
        if (candidate < 0 || candidate >= PITCH_INDEX_COUNT) continue;
        const auto index = static_cast<std::uint8_t>(candidate);
        if (decode_pitch(index)->harmonic_count == l) return index;
    }
    return b0;
}

}  // namespace

DecoderState DecoderState::from_amplitudes(std::span<const float> amplitudes, std::uint8_t l) {
    OSTREL_CHECK(l < DecoderState{}.previous_amplitudes.size(), "seeded harmonic count fits the predictor state");
    DecoderState state;
    const std::size_t n = std::min<std::size_t>(l, amplitudes.size());
    for (std::size_t i = 0; i < n; ++i) state.previous_amplitudes[i + 1] = amplitudes[i];
    state.previous_l = l;
    return state;
}

std::string_view debug_name(EncodeError error) {
    switch (error) {
        case EncodeError::PitchOutOfRange: return "PitchOutOfRange";
    }
    return "?";
}

namespace {

// Every pitch index's fundamental and harmonic count, worked out once: two divisions a frame
// saved on the decoder's path.
std::array<Pitch, PITCH_INDEX_COUNT> build_pitch_table() {
    std::array<Pitch, PITCH_INDEX_COUNT> table{};
    for (std::size_t b0 = 0; b0 < table.size(); ++b0) {
        const float omega0 = FOUR_PI / (static_cast<float>(b0) + 39.5f);
        const float harmonics = std::floor(0.9254f * std::floor(PI / omega0 + 0.25f));
        const float clamped = std::clamp(harmonics, static_cast<float>(L_MIN), static_cast<float>(L_HAT_MAX));
        table[b0] = Pitch{omega0, static_cast<std::uint8_t>(clamped)};
    }
    return table;
}

}  // namespace

std::expected<Pitch, DecodeError> decode_pitch(std::uint8_t b0) {
    if (b0 >= PITCH_INDEX_COUNT) return std::unexpected(DecodeError{DecodeErrorKind::BadPitch});
    return common::built_once<build_pitch_table>()[b0];
}

std::expected<std::uint8_t, EncodeError> encode_pitch(float omega0) {
    if (!(omega0 > 0.0f && omega0 < PI)) return std::unexpected(EncodeError::PitchOutOfRange);
    const float index = std::floor(FOUR_PI / omega0 - 39.0f);
    // Compared as floats first: a tiny omega0 gives an index far outside any integer type.
    if (!(index >= 0.0f && index < static_cast<float>(PITCH_INDEX_COUNT))) {
        return std::unexpected(EncodeError::PitchOutOfRange);
    }
    return static_cast<std::uint8_t>(index);
}

std::uint16_t collapse_vuv(std::span<const bool> voiced, unsigned k) {
    OSTREL_CHECK(k <= 12, "at most 12 voicing bands");
    unsigned word = 0;
    for (unsigned band = 1; band <= k; ++band) {
        // Only the band's lowest harmonic, 3k - 2, is consulted.
        const std::size_t index = 3u * band - 3u;
        const bool flag = index < voiced.size() && voiced[index];
        if (flag) word |= 1u << (k - band);
    }
    return static_cast<std::uint16_t>(word);
}

namespace {

// reconstruct_amplitudes_from_bits with the state's resample_previous(l, state).
std::array<float, L_HAT_MAX> reconstruct_amplitudes(const BValues& b, std::uint8_t l, const Resampled& previous) {
    const GainVector gain = decode_gain_dct(b, l);
    const BlockResiduals residuals = gain_to_residuals(gain);
    const CoefficientMatrix c = assemble_hoc_matrix(b, l, residuals);
    const HarmonicVector t = inverse_block_dct(c, l);
    const HarmonicVector log2_m = apply_log_prediction(t, l, previous);
    std::array<float, L_HAT_MAX> m{};
    for (std::size_t h = 0; h < l; ++h) m[h] = std::exp2(log2_m[h]);
    return m;
}

}  // namespace

std::array<float, L_HAT_MAX> reconstruct_amplitudes_from_bits(const BValues& b, std::uint8_t l,
                                                              const DecoderState& state) {
    return reconstruct_amplitudes(b, l, resample_previous(l, state));
}

std::expected<MbeParams, DecodeError> dequantize(const InfoVectors& u, DecoderState& state) {
    const auto pitch = decode_pitch(priority::pitch_index(u));
    if (!pitch) return std::unexpected(pitch.error());
    const std::uint8_t l = pitch->harmonic_count;
    const unsigned k = band_count(l);
    const BValues b = priority::deprioritize(u, l);

    std::array<bool, L_HAT_MAX> voiced{};
    for (std::size_t h = 1; h <= l; ++h) voiced[h - 1] = ((b[1] >> (k - band_of_harmonic(h))) & 1u) != 0;

    const auto amplitudes = reconstruct_amplitudes_from_bits(b, l, state);
    auto params = MbeParams::create(pitch->omega0, std::span<const bool>(voiced.data(), l),
                                    std::span<const float>(amplitudes.data(), l));
    if (!params) return std::unexpected(DecodeError{DecodeErrorKind::InvalidParams, params.error()});

    state.previous_amplitudes[0] = 1.0f;
    std::copy_n(amplitudes.begin(), l, state.previous_amplitudes.begin() + 1);
    state.previous_l = l;
    state.toggle = (b[l + 2u] & 1u) != 0;
    return *params;
}

bool decodes_as_quantized(const InfoVectors& u, const BValues& b, std::uint8_t l, const DecoderState& state) {
    // dequantize's steps up to its validation, with the amplitudes quantize already rebuilt from
    // b into the state.
    const auto pitch = decode_pitch(priority::pitch_index(u));
    if (!pitch || pitch->harmonic_count != l) return false;
    if (priority::deprioritize(u, l) != b) return false;
    const unsigned k = band_count(l);
    std::array<bool, L_HAT_MAX> voiced{};
    for (std::size_t h = 1; h <= l; ++h) voiced[h - 1] = ((b[1] >> (k - band_of_harmonic(h))) & 1u) != 0;
    return MbeParams::create(pitch->omega0, std::span<const bool>(voiced.data(), l),
                             std::span<const float>(state.previous_amplitudes.data() + 1, l))
        .has_value();
}

std::expected<BValues, EncodeError> quantize(const MbeParams& params, DecoderState& state) {
    const auto coded_pitch = encode_pitch(params.omega0());
    if (!coded_pitch) return std::unexpected(coded_pitch.error());
    const std::uint8_t l = params.harmonic_count();
    OSTREL_CHECK(l >= L_MIN && l <= L_HAT_MAX, "valid parameters have 9..56 harmonics");

    BValues b{};
    b[0] = pitch_index_for_harmonic_count(*coded_pitch, l);
    b[1] = collapse_vuv(params.voiced(), band_count(l));

    HarmonicVector log2_m{};
    const auto amplitudes = params.amplitudes();
    for (std::size_t h = 0; h < l; ++h) {
        const float a = amplitudes[h];
        log2_m[h] = std::log2(a > 0.0f ? a : AMPLITUDE_FLOOR);
    }

    // The state's previous amplitudes resampled once, for both directions of the prediction.
    const Resampled previous = resample_previous(l, state);
    const HarmonicVector t = forward_log_prediction(log2_m, l, previous);
    const CoefficientMatrix c = forward_block_dct(t, l);
    BlockResiduals residuals{};
    for (std::size_t i = 0; i < 6; ++i) residuals[i] = c[i][0];
    encode_gain_dct(residuals_to_gain(residuals), l, b);
    disassemble_hoc_matrix(c, l, b);
    b[l + 2u] = state.toggle ? 0 : 1;

    // Closed loop: track exactly what a decoder of these bits will hold.
    const auto reconstructed = reconstruct_amplitudes(b, l, previous);
    state.previous_amplitudes[0] = 1.0f;
    std::copy_n(reconstructed.begin(), l, state.previous_amplitudes.begin() + 1);
    state.previous_l = l;
    state.toggle = b[l + 2u] != 0;
    return b;
}

}  // namespace ostrel_mbe::imbe_wire::dequantize
