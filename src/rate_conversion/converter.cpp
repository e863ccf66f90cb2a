// SPDX-License-Identifier: GPL-2.0-or-later
#include "rate_conversion/converter.h"

#include <cmath>
#include <numbers>

#include "ambe_plus2_wire/dequantize/codebook_search.h"
#include "ambe_plus2_wire/dequantize/reconstruction_search.h"
#include "ambe_plus2_wire/frame.h"
#include "ambe_plus2_wire/ambe_plus2_tables.h"
#include "ambe_plus2_wire/priority.h"
#include "common/check.h"
#include "imbe_wire/frame.h"
#include "imbe_wire/priority.h"

namespace ostrel_mbe::rate_conversion {
namespace {

namespace imbe_dq = imbe_wire::dequantize;
namespace ambe_dq = ambe_plus2_wire::dequantize;

// The half-rate pitch range: the first and last entries of the pitch table (TIA-102.BABA
// Annex L), 0.313977 and 0.051051.
constexpr float HALF_OMEGA0_MAX = ambe_plus2_wire::tables::PITCH.front().omega0;
constexpr float HALF_OMEGA0_MIN = ambe_plus2_wire::tables::PITCH.back().omega0;
// The full-rate pitch range, 4 pi / 246.5 to 4 pi / 39.5: pitch indices 207 and 0.
constexpr float FOUR_PI = 4.0f * std::numbers::pi_v<float>;
constexpr float FULL_OMEGA0_MIN = FOUR_PI / 246.5f;
constexpr float FULL_OMEGA0_MAX = FOUR_PI / 39.5f;

// The first full-rate pitch index outside the coded range: an IMBE receiver drops the frame.
constexpr std::uint16_t FULL_RATE_INVALID_PITCH = 208;

HalfRateSymbols half_rate_erasure() { return ambe_plus2_wire::frame::encode_frame(half_rate_erasure_vectors()); }

FullRateSymbols full_rate_invalid_frame() { return imbe_wire::frame::encode_frame(full_rate_invalid_vectors()); }

}  // namespace

std::array<std::uint16_t, 4> half_rate_erasure_vectors() {
    ambe_dq::BValues b{};
    b[0] = ambe_dq::FIRST_RESERVED_PITCH;
    return ambe_plus2_wire::priority::prioritize(b);
}

std::array<std::uint16_t, 8> full_rate_invalid_vectors() {
    imbe_dq::BValues b{};
    b[0] = FULL_RATE_INVALID_PITCH;
    return imbe_wire::priority::prioritize(b, L_MIN);
}

std::string ConvertError::debug() const {
    struct Text {
        std::string operator()(const imbe_dq::DecodeError& e) const { return "Decode(" + e.debug() + ")"; }
        std::string operator()(imbe_dq::EncodeError e) const {
            return "Encode(" + std::string(imbe_dq::debug_name(e)) + ")";
        }
        std::string operator()(HalfPitchOutOfRange) const { return "HalfPitchOutOfRange"; }
    };
    return std::visit(Text{}, value);
}

MbeParams clamp_omega_to(const MbeParams& params, float lower, float upper) {
    const float omega0 = params.omega0();
    if (lower <= omega0 && omega0 <= upper) return params;
    OSTREL_CHECK(lower <= upper, "clamp bounds are ordered");
    auto clamped = MbeParams::create(std::max(lower, std::min(upper, omega0)), params.voiced(), params.amplitudes());
    OSTREL_CHECK(clamped.has_value(), "clamped ω₀ stays inside (0, π)");
    return *clamped;
}

std::expected<HalfRateSymbols, ConvertError> FullToHalfConverter::convert(std::span<const std::uint8_t, 72> dibits) {
    return convert_vectors(imbe_wire::frame::decode_frame(dibits).u);
}

std::expected<HalfRateSymbols, ConvertError> FullToHalfConverter::convert_vectors(const std::array<std::uint16_t, 8>& vectors) {
    auto decoded = imbe_dq::dequantize(vectors, imbe_);
    if (!decoded) {
        if (decoded.error().kind == imbe_dq::DecodeErrorKind::BadPitch) return half_rate_erasure();
        return std::unexpected(ConvertError{decoded.error()});
    }

    MbeParams params = clamp_omega_to(*decoded, HALF_OMEGA0_MIN, HALF_OMEGA0_MAX);
    const double omega0 = params.omega0();
    if (omega0 > 0.0 && std::isfinite(omega0) && omega0 >= ambe_dq::OMEGA0_MIN && omega0 <= ambe_dq::OMEGA0_MAX) {
        const auto& entry = ambe_plus2_wire::tables::PITCH[ambe_dq::pitch_index(omega0)];
        params = predictor::blend(params, entry.harmonics, blend_, entry.omega0, mix_);
    }

    auto u = quantizer_search_ ? ambe_dq::quantize_by_reconstruction(params, ambe_)
                               : ambe_dq::quantize_closed_loop(params, ambe_);
    if (!u) {
        if (u.error().kind == ambe_dq::DecodeErrorKind::BadPitch) return std::unexpected(ConvertError{ConvertError::HalfPitchOutOfRange{}});
        return std::unexpected(ConvertError{u.error()});
    }
    return ambe_plus2_wire::frame::encode_frame(*u);
}

std::expected<FullRateSymbols, ConvertError> HalfToFullConverter::convert(std::span<const std::uint8_t, 36> dibits) {
    return convert_vectors(ambe_plus2_wire::frame::decode_frame(dibits).u);
}

std::expected<FullRateSymbols, ConvertError> HalfToFullConverter::convert_vectors(const std::array<std::uint16_t, 4>& vectors) {
    const ambe_dq::DecodedFrame decoded = ambe_dq::decode_to_params(vectors, ambe_);
    const MbeParams* source = decoded.params();
    if (source == nullptr) return full_rate_invalid_frame();

    MbeParams params = clamp_omega_to(*source, FULL_OMEGA0_MIN, FULL_OMEGA0_MAX);
    // The full-rate pitch cell of the fundamental; its centre and harmonic count are the grid.
    if (const auto b0 = imbe_dq::encode_pitch(params.omega0())) {
        const imbe_dq::Pitch pitch = *imbe_dq::decode_pitch(*b0);
        params = predictor::blend(params, pitch.harmonic_count, blend_, pitch.omega0, mix_);
    }

    auto b = imbe_dq::quantize(params, imbe_);
    if (!b) return std::unexpected(ConvertError{imbe_dq::EncodeError::PitchOutOfRange});
    return imbe_wire::frame::encode_frame(imbe_wire::priority::prioritize(*b, params.harmonic_count()));
}

}  // namespace ostrel_mbe::rate_conversion
