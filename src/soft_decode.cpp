// SPDX-License-Identifier: GPL-2.0-or-later
// Vocoder::decode_soft: the channel's decode from soft decisions.
#include "ambe_plus2_wire/soft_frame.h"
#include "channel_decode.h"
#include "common/failure.h"
#include "imbe_wire/soft_frame.h"
#include "soft_input.h"
#include "vocoder.h"

namespace ostrel_mbe {

std::expected<PcmFrame, VocoderError> Vocoder::decode_soft(std::span<const float> soft) {
    State& s = state();
    // Both checks come first: a refused call changes nothing.
    const std::size_t expected = 8 * wire_bytes(s.rate);
    if (soft.size() != expected) {
        return common::failure<PcmFrame, VocoderError>(VocoderError::WrongSoftLength{expected, soft.size()});
    }
    if (auto error = soft_input::non_finite(soft)) return std::unexpected(std::move(*error));
    if (!has_fec(s.rate)) {
        const std::array<std::uint8_t, 18> bytes = soft_input::slice(soft);
        return decode_bits(std::span<const std::uint8_t>(bytes.data(), wire_bytes(s.rate)));
    }
    const bool cautious = channel_decode::begin_received(s);
    DecodeResult result =
        is_imbe(s.rate)
            ? imbe_pipeline::decode_corrected(
                  imbe_wire::frame::decode_frame_soft(soft.first<imbe_wire::frame::SOFT_BITS>()),
                  channel_decode::imbe_context(s))
            : ambe_plus2_pipeline::decode_corrected(
                  ambe_plus2_wire::frame::decode_frame_soft(soft.first<ambe_plus2_wire::frame::SOFT_BITS>()),
                  channel_decode::ambe_plus2_context(s));
    return channel_decode::finish_received(s, result, cautious);
}

}  // namespace ostrel_mbe
