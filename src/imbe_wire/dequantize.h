// SPDX-License-Identifier: GPL-2.0-or-later
// IMBE full-rate parameter quantizer (TIA-102.BABA sections 6 and 7): MbeParams to the
// quantized values b0..b(L+2) and back, with the log2-domain amplitude predictor carried
// across frames in DecoderState.  All arithmetic is 32-bit floating point.
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <span>
#include <string>

#include "common/filled.h"
#include "common/voicing_bands.h"
#include "mbe_params.h"
#include "wire_common/decode_error.h"

namespace ostrel_mbe::imbe_wire::dequantize {

// Cross-frame predictor state, identical on the encoder (closed loop) and decoder side.
struct DecoderState {
    // Linear amplitudes of the previous decoded frame at 1..previous_l; entry 0 is always 1.0.
    std::array<float, 58> previous_amplitudes = common::filled<float, 58>(1.0f);
    std::uint8_t previous_l = 30;
    bool toggle = false;

    // Previous amplitudes 1.0 at index 0, the given amplitudes at 1..min(L, size), 1.0 elsewhere.
    static DecoderState from_amplitudes(std::span<const float> amplitudes, std::uint8_t l);

    friend bool operator==(const DecoderState&, const DecoderState&) = default;
};

using wire_common::DecodeError;
using wire_common::DecodeErrorKind;

enum class EncodeError : std::uint8_t { PitchOutOfRange };
std::string_view debug_name(EncodeError error);

// Quantized values b0..b58; entries above b(L+2) are zero.
using BValues = std::array<std::uint16_t, 59>;
// Information vectors u0..u7.
using InfoVectors = std::array<std::uint16_t, 8>;

// Quantizes params against the encoder's state; on success the state holds exactly what a
// decoder of the returned values will hold.
std::expected<BValues, EncodeError> quantize(const MbeParams& params, DecoderState& state);

// Dequantizes one frame's information vectors; the state is updated on success only.
std::expected<MbeParams, DecodeError> dequantize(const InfoVectors& u, DecoderState& state);

// For an encoder whose quantize(params, state) returned b, u = prioritize(b, l) being the frame
// sent: true when dequantize(u, before) would succeed and leave exactly the state that quantize
// left (u reads back as b with l harmonics and the rebuilt parameters are valid), so that the
// encoder need not decode its own frame; false when it would not, or might not.
bool decodes_as_quantized(const InfoVectors& u, const BValues& b, std::uint8_t l, const DecoderState& state);

// The K-bit band voicing word b1 (band 1 in the most significant bit).
std::uint16_t collapse_vuv(std::span<const bool> voiced, unsigned k);

// The voicing bands of common/voicing_bands.h: K = band_count(L), one bit of b1 each, band 1
// in the most significant bit; harmonic l belongs to band_of_harmonic(l) = min(12, (l + 2) / 3)
// whatever L.
using common::band_count;
inline unsigned band_of_harmonic(std::size_t l) { return static_cast<unsigned>(common::band_of(l, 12)); }

// The decoder's amplitude chain (gain, blocks, inverse DCT, log prediction) without
// validation or state update; 56 linear amplitudes, zero above L.
std::array<float, L_HAT_MAX> reconstruct_amplitudes_from_bits(const BValues& b, std::uint8_t l,
                                                              const DecoderState& state);


// The fundamental and harmonic count that pitch index b0 codes.
struct Pitch {
    float omega0;                 // 4 pi / (b0 + 39.5), radians per sample
    std::uint8_t harmonic_count;  // floor(0.9254 floor(pi / omega0 + 0.25)), within 9..56
};
// BadPitch for b0 = 208..255, the indices outside the coded range.
std::expected<Pitch, DecodeError> decode_pitch(std::uint8_t b0);
// b0 = floor(4 pi / omega0 - 39); PitchOutOfRange unless 0 < omega0 < pi and b0 is 0..207.
// Callers building MbeParams for quantize take L from decode_pitch of this index, so that the
// decoder, which derives L from b0, reads the bits with the same allocation.
std::expected<std::uint8_t, EncodeError> encode_pitch(float omega0);

}  // namespace ostrel_mbe::imbe_wire::dequantize
