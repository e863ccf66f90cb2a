// SPDX-License-Identifier: GPL-2.0-or-later
#include "live.h"

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

}  // namespace ostrel_mbe
