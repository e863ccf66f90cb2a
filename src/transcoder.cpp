// SPDX-License-Identifier: GPL-2.0-or-later
#include "transcoder.h"

#include <array>
#include <optional>

#include "ambe_plus2_wire/frame.h"
#include "ambe_plus2_wire/soft_frame.h"
#include "common/check.h"
#include "common/failure.h"
#include "imbe_wire/frame.h"
#include "imbe_wire/soft_frame.h"
#include "rate_conversion/converter.h"
#include "soft_input.h"
#include "wire_common/frame_bytes.h"

namespace ostrel_mbe {

struct Transcoder::State {
    Rate from;
    Rate to;
    rate_conversion::predictor::EnvelopeMix mix = rate_conversion::predictor::EnvelopeMix::None;
    bool quantizer_search = false;
    std::optional<rate_conversion::FullToHalfConverter> full_to_half;
    std::optional<rate_conversion::HalfToFullConverter> half_to_full;
};

Transcoder::State& Transcoder::state() noexcept { return storage_.get<State>(); }
const Transcoder::State& Transcoder::state() const noexcept { return storage_.get<State>(); }

namespace {

namespace layout = wire_bytes_layout;

// In the order of TRANSCODE_DIRECTIONS.
enum class Direction : std::uint8_t { FullFecToBare, FullBareToFec, HalfFecToBare, HalfBareToFec, FullToHalf, HalfToFull };

std::optional<Direction> direction_of(Rate from, Rate to) {
    for (std::size_t i = 0; i < TRANSCODE_DIRECTIONS.size(); ++i) {
        if (TRANSCODE_DIRECTIONS[i].from == from && TRANSCODE_DIRECTIONS[i].to == to) return static_cast<Direction>(i);
    }
    return std::nullopt;
}

VocoderError convert_error(const rate_conversion::ConvertError& e) {
    return VocoderError{VocoderError::Quantize{e.debug()}};
}

}  // namespace

std::expected<Transcoder, VocoderError> Transcoder::create(Rate from, Rate to) {
    if (!direction_of(from, to)) return common::failure<Transcoder, VocoderError>(VocoderError::UnsupportedTranscode{from, to});
    return Transcoder(from, to);
}

Transcoder::Transcoder(Rate from, Rate to) {
    storage_.emplace<State>(State{from, to, rate_conversion::predictor::EnvelopeMix::None, false, std::nullopt, std::nullopt});
    reset();
}
Transcoder::Transcoder(const Transcoder& other) { storage_.emplace<State>(other.state()); }
Transcoder& Transcoder::operator=(const Transcoder& other) {
    state() = other.state();
    return *this;
}
Transcoder::~Transcoder() { storage_.destroy<State>(); }

Rate Transcoder::from() const { return state().from; }
Rate Transcoder::to() const { return state().to; }

rate_conversion::predictor::EnvelopeMix Transcoder::envelope_mix() const { return state().mix; }
void Transcoder::set_envelope_mix(rate_conversion::predictor::EnvelopeMix mix) {
    state().mix = mix;
    reset();
}

bool Transcoder::quantizer_search() const { return state().quantizer_search; }
void Transcoder::set_quantizer_search(bool on) {
    state().quantizer_search = on;
    reset();
}

void Transcoder::reset() {
    State& s = state();
    const auto direction = direction_of(s.from, s.to);
    OSTREL_CHECK(direction.has_value(), "direction was validated at construction");
    s.full_to_half.reset();
    s.half_to_full.reset();
    if (*direction == Direction::FullToHalf) s.full_to_half.emplace(s.mix, s.quantizer_search);
    if (*direction == Direction::HalfToFull) s.half_to_full.emplace(s.mix);
}

std::expected<WireFrame, VocoderError> Transcoder::transcode(std::span<const std::uint8_t> bytes) {
    State& s = state();
    const std::size_t expected = wire_bytes(s.from);
    if (bytes.size() != expected) return common::failure<WireFrame, VocoderError>(VocoderError::WrongBitsLength{expected, bytes.size()});

    const auto direction = direction_of(s.from, s.to);
    if (!direction) return common::failure<WireFrame, VocoderError>(VocoderError::UnsupportedTranscode{s.from, s.to});
    switch (*direction) {
        case Direction::FullFecToBare:
            return WireFrame::of(layout::pack_info_full(imbe_wire::frame::decode_frame_bytes(bytes.first<18>()).u));
        case Direction::FullBareToFec:
            return WireFrame::of(imbe_wire::frame::encode_frame_bytes(layout::unpack_info_full(bytes.first<11>())));
        case Direction::HalfFecToBare:
            return WireFrame::of(layout::pack_info_half(ambe_plus2_wire::frame::decode_frame_bytes(bytes.first<9>()).u));
        case Direction::HalfBareToFec:
            return WireFrame::of(ambe_plus2_wire::frame::encode_frame_bytes(layout::unpack_info_half(bytes.first<7>())));
        case Direction::FullToHalf: {
            OSTREL_CHECK(s.full_to_half.has_value(), "constructed with this direction");
            auto out = s.full_to_half->convert(wire_common::bytes_to_symbols<72>(bytes.first<18>()));
            if (!out) return std::unexpected(convert_error(out.error()));
            return WireFrame::of(wire_common::symbols_to_bytes(*out));
        }
        case Direction::HalfToFull: {
            OSTREL_CHECK(s.half_to_full.has_value(), "constructed with this direction");
            auto out = s.half_to_full->convert(wire_common::bytes_to_symbols<36>(bytes.first<9>()));
            if (!out) return std::unexpected(convert_error(out.error()));
            return WireFrame::of(wire_common::symbols_to_bytes(*out));
        }
    }
    return common::failure<WireFrame, VocoderError>(VocoderError::UnsupportedTranscode{s.from, s.to});
}

// Soft values and lost frames: the source frame corrected from its soft values carries on
// from the information vectors exactly as transcode does from the hard ones.
std::expected<WireFrame, VocoderError> Transcoder::transcode_soft(std::span<const float> soft) {
    State& s = state();
    const Rate from = s.from;
    const Rate to = s.to;
    const std::size_t expected = 8 * wire_bytes(from);
    if (soft.size() != expected) {
        return common::failure<WireFrame, VocoderError>(VocoderError::WrongSoftLength{expected, soft.size()});
    }
    if (auto error = soft_input::non_finite(soft)) return std::unexpected(std::move(*error));
    if (!has_fec(from)) {
        const std::array<std::uint8_t, 18> bytes = soft_input::slice(soft);
        return transcode(std::span<const std::uint8_t>(bytes.data(), wire_bytes(from)));
    }
    const auto convert_error = [](const rate_conversion::ConvertError& e) {
        return std::unexpected(VocoderError{VocoderError::Quantize{e.debug()}});
    };
    if (is_imbe(from)) {
        const auto u = imbe_wire::frame::decode_frame_soft(soft.first<imbe_wire::frame::SOFT_BITS>()).u;
        if (to == Rate::Imbe4400x4400) return WireFrame::of(wire_bytes_layout::pack_info_full(u));
        OSTREL_CHECK(s.full_to_half.has_value(), "constructed with this direction");
        auto out = s.full_to_half->convert_vectors(u);
        if (!out) return convert_error(out.error());
        return WireFrame::of(wire_common::symbols_to_bytes(*out));
    }
    const auto u = ambe_plus2_wire::frame::decode_frame_soft(soft.first<ambe_plus2_wire::frame::SOFT_BITS>()).u;
    if (to == Rate::AmbePlus2_2450x2450) return WireFrame::of(wire_bytes_layout::pack_info_half(u));
    OSTREL_CHECK(s.half_to_full.has_value(), "constructed with this direction");
    auto out = s.half_to_full->convert_vectors(u);
    if (!out) return convert_error(out.error());
    return WireFrame::of(wire_common::symbols_to_bytes(*out));
}

WireFrame Transcoder::transcode_lost() const {
    switch (to()) {
        case Rate::Imbe7200x4400:
            return WireFrame::of(imbe_wire::frame::encode_frame_bytes(rate_conversion::full_rate_invalid_vectors()));
        case Rate::Imbe4400x4400: return WireFrame::of(wire_bytes_layout::pack_info_full(rate_conversion::full_rate_invalid_vectors()));
        case Rate::AmbePlus2_3600x2450:
            return WireFrame::of(ambe_plus2_wire::frame::encode_frame_bytes(rate_conversion::half_rate_erasure_vectors()));
        case Rate::AmbePlus2_2450x2450: break;
    }
    return WireFrame::of(wire_bytes_layout::pack_info_half(rate_conversion::half_rate_erasure_vectors()));
}

}  // namespace ostrel_mbe
