// SPDX-License-Identifier: GPL-2.0-or-later
#include "live.h"

#include "soft_input.h"

namespace ostrel_mbe {

std::vector<LiveEncoder::Result> LiveEncoder::push(std::span<const std::int16_t> samples) {
    std::vector<Result> out;
    out.reserve((pending_.size() + samples.size()) / FRAME_SAMPLES);
    pending_.push(samples, FRAME_SAMPLES, [&](std::span<const std::int16_t> frame) { out.push_back(channel_.encode_pcm(frame)); });
    return out;
}

std::optional<LiveEncoder::Result> LiveEncoder::flush() {
    if (pending_.size() == 0) return std::nullopt;
    Result result = channel_.encode_pcm(pending_.pad_to(FRAME_SAMPLES));
    if (result) pending_.clear();
    return result;
}

std::vector<LiveDecoder::Result> LiveDecoder::push(std::span<const std::uint8_t> bytes) {
    const std::size_t frame = wire_bytes(channel_.rate());
    std::vector<Result> out;
    out.reserve((pending_.size() + bytes.size()) / frame);
    pending_.push(bytes, frame, [&](std::span<const std::uint8_t> f) { out.push_back(channel_.decode_bits(f)); });
    return out;
}

std::expected<std::vector<PcmFrame>, VocoderError> LiveDecoder::push_soft(std::span<const float> values) {
    if (auto error = soft_input::non_finite(values)) return std::unexpected(std::move(*error));
    const std::size_t frame = 8 * wire_bytes(channel_.rate());
    std::vector<PcmFrame> out;
    out.reserve((pending_soft_.size() + values.size()) / frame);
    // The length is right by construction, and the values are finite: decode_soft cannot fail.
    pending_soft_.push(values, frame, [&](std::span<const float> f) { out.push_back(*channel_.decode_soft(f)); });
    return out;
}

std::vector<PcmFrame> LiveDecoder::push_lost(std::size_t count) {
    discard_pending();
    std::vector<PcmFrame> out;
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) out.push_back(channel_.decode_lost());
    return out;
}

}  // namespace ostrel_mbe
