// SPDX-License-Identifier: GPL-2.0-or-later
// Rate converters between the IMBE full-rate frame (72 dibits, with FEC) and the AMBE+2
// half-rate frame (36 dibits, with FEC), through the MBE parameters rather than PCM: decode the
// source frame, fit the fundamental to the destination's pitch grid, resample the amplitudes
// onto the destination's harmonic count (predictor::blend), quantize and frame again.
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <variant>

#include "ambe_plus2_wire/dequantize.h"
#include "imbe_wire/dequantize.h"
#include "mbe_params.h"
#include "rate_conversion/predictor.h"

namespace ostrel_mbe::rate_conversion {

struct ConvertError {
    struct HalfPitchOutOfRange {
        friend bool operator==(const HalfPitchOutOfRange&, const HalfPitchOutOfRange&) = default;
    };
    // The IMBE dequantizer's error (Decode), the IMBE quantizer's (Encode), or a fundamental
    // the half-rate quantizer cannot code.
    std::variant<imbe_wire::dequantize::DecodeError, imbe_wire::dequantize::EncodeError, HalfPitchOutOfRange> value;

    // "Decode(BadPitch)", "Decode(InvalidParams(OmegaOutOfRange))", "Encode(PitchOutOfRange)",
    // "HalfPitchOutOfRange".
    std::string debug() const;
    friend bool operator==(const ConvertError&, const ConvertError&) = default;
};

// ω0 clamped into [lower, upper] (lower <= upper), everything else unchanged.
MbeParams clamp_omega_to(const MbeParams& params, float lower, float upper);

using FullRateSymbols = std::array<std::uint8_t, 72>;
using HalfRateSymbols = std::array<std::uint8_t, 36>;

// What a converter of either direction carries from frame to frame: the predictor state of the
// wire it decodes and of the wire it encodes, and the previous output for the amplitude blend.
// quantizer_search: the half-rate indices are chosen by the rebuilt spectrum
// (quantize_by_reconstruction) rather than as the nearest entries; the full rate ignores it.
class ConverterState {
public:
    explicit ConverterState(predictor::EnvelopeMix mix = predictor::EnvelopeMix::None, bool quantizer_search = false)
        : mix_(mix), quantizer_search_(quantizer_search) {}

protected:
    predictor::EnvelopeMix mix_;
    bool quantizer_search_;
    ambe_plus2_wire::dequantize::DecoderState ambe_{};
    predictor::BlendState blend_{};
    imbe_wire::dequantize::DecoderState imbe_{};
};

// IMBE 7200 bit/s frame to AMBE+2 3600 bit/s frame.  A frame with an invalid pitch index
// becomes the half-rate erasure frame.
class FullToHalfConverter : ConverterState {
public:
    using ConverterState::ConverterState;
    std::expected<HalfRateSymbols, ConvertError> convert(std::span<const std::uint8_t, 72> dibits);
    // The same from the corrected information vectors (hard or soft decisions).
    std::expected<HalfRateSymbols, ConvertError> convert_vectors(const std::array<std::uint16_t, 8>& u);
};

// AMBE+2 3600 bit/s frame to IMBE 7200 bit/s frame.  Erasures and undecodable frames become
// the IMBE frame with pitch index 208, which an IMBE receiver treats as invalid; tone frames
// convert through their tone parameters.
class HalfToFullConverter : ConverterState {
public:
    using ConverterState::ConverterState;
    std::expected<FullRateSymbols, ConvertError> convert(std::span<const std::uint8_t, 36> dibits);
    std::expected<FullRateSymbols, ConvertError> convert_vectors(const std::array<std::uint16_t, 4>& u);
};

// What each wire carries for a frame that never arrived: the half rate's erasure frame, and at
// the full rate the frame with pitch index 208, which an IMBE receiver drops.  As information
// vectors, for the FEC and the bare forms alike.
std::array<std::uint16_t, 4> half_rate_erasure_vectors();
std::array<std::uint16_t, 8> full_rate_invalid_vectors();

}  // namespace ostrel_mbe::rate_conversion
