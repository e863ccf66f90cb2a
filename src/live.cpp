// SPDX-License-Identifier: GPL-2.0-or-later
#include "live.h"

#include <utility>

#include "common/check.h"
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

namespace {

// Writes each completed frame's result into its slot of out; keeps the first failure and runs on.
template <class Result, class Out>
struct Concatenate {
    std::span<Out> out;
    std::size_t frame_size;
    std::size_t index = 0;
    std::expected<void, FrameFailure> first_failure{};

    void operator()(Result&& result) {
        if (!result) {
            if (first_failure) first_failure = std::unexpected(FrameFailure{index, std::move(result.error())});
        } else if (first_failure) {
            const auto produced = frame_data(*result);
            std::copy(produced.begin(), produced.end(), out.begin() + static_cast<std::ptrdiff_t>(index * frame_size));
        }
        ++index;
    }
};

}  // namespace

std::expected<void, FrameFailure> LiveEncoder::push_into(std::span<const std::int16_t> samples,
                                                         std::span<std::uint8_t> out) {
    OSTREL_CHECK(out.size() == frames_completed(samples.size()) * wire_bytes(rate()), "output sized for the push");
    Concatenate<Result, std::uint8_t> into{out, wire_bytes(rate())};
    pending_.push(samples, FRAME_SAMPLES, [&](std::span<const std::int16_t> frame) { into(channel_.encode_pcm(frame)); });
    return into.first_failure;
}

std::expected<void, FrameFailure> LiveDecoder::push_into(std::span<const std::uint8_t> bytes,
                                                         std::span<std::int16_t> out) {
    OSTREL_CHECK(out.size() == frames_completed(bytes.size()) * FRAME_SAMPLES, "output sized for the push");
    Concatenate<Result, std::int16_t> into{out, FRAME_SAMPLES};
    pending_.push(bytes, wire_bytes(rate()), [&](std::span<const std::uint8_t> frame) { into(channel_.decode_bits(frame)); });
    return into.first_failure;
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
