// SPDX-License-Identifier: GPL-2.0-or-later
#include "whole_buffer.h"

#include <algorithm>
#include <utility>

#include "common/check.h"

namespace ostrel_mbe {

namespace {

// Runs code(input frame) -> expected<frame result> over whole frames, copying each result into
// its place in out; stops at the first failure.  A frame flagged in `lost` gets conceal()'s
// result instead, its input unread.
template <class In, class Out, class Code, class Conceal>
std::expected<void, FrameFailure> each_frame(std::span<const In> in, std::size_t in_frame, std::span<Out> out,
                                             std::size_t out_frame, Code&& code, LostFlags lost, Conceal&& conceal) {
    const std::size_t frames = in.size() / in_frame;
    OSTREL_CHECK(out.size() == frames * out_frame, "output sized for the input's whole frames");
    OSTREL_CHECK(lost.empty() || lost.size() == frames, "one lost flag per frame of the input");
    for (std::size_t i = 0; i < frames; ++i) {
        using Result = decltype(code(in.subspan(0, in_frame)));
        auto result = !lost.empty() && lost[i] != 0 ? Result(conceal()) : code(in.subspan(i * in_frame, in_frame));
        if (!result) return std::unexpected(FrameFailure{i, std::move(result.error())});
        const auto produced = frame_data(*result);
        std::copy(produced.begin(), produced.end(), out.begin() + static_cast<std::ptrdiff_t>(i * out_frame));
    }
    return {};
}

}  // namespace

std::expected<void, FrameFailure> encode_frames(Vocoder& channel, std::span<const std::int16_t> pcm,
                                                std::span<std::uint8_t> out) {
    const std::size_t frames = pcm.size() / FRAME_SAMPLES;
    const std::size_t tail = pcm.size() % FRAME_SAMPLES;
    auto done = each_frame(pcm.first(frames * FRAME_SAMPLES), FRAME_SAMPLES, out, wire_bytes(channel.rate()),
                           [&](std::span<const std::int16_t> frame) { return channel.encode_pcm(frame); }, {},
                           [] { return WireFrame{}; });
    if (done && tail != 0)
        return std::unexpected(FrameFailure{frames, {VocoderError::WrongPcmLength{FRAME_SAMPLES, tail}}});
    return done;
}

std::expected<void, FrameFailure> decode_frames(Vocoder& channel, std::span<const std::uint8_t> bits,
                                                std::span<std::int16_t> out, LostFlags lost) {
    const std::size_t size = wire_bytes(channel.rate());
    if (bits.size() % size != 0)
        return std::unexpected(FrameFailure{bits.size() / size, {VocoderError::WrongBitsLength{size, bits.size() % size}}});
    return each_frame(bits, size, out, FRAME_SAMPLES,
                      [&](std::span<const std::uint8_t> frame) { return channel.decode_bits(frame); }, lost,
                      [&] { return channel.decode_lost(); });
}

std::expected<void, FrameFailure> decode_soft_frames(Vocoder& channel, std::span<const float> soft,
                                                     std::span<std::int16_t> out, LostFlags lost) {
    const std::size_t size = 8 * wire_bytes(channel.rate());
    if (soft.size() % size != 0)
        return std::unexpected(FrameFailure{soft.size() / size, {VocoderError::WrongSoftLength{size, soft.size() % size}}});
    return each_frame(soft, size, out, FRAME_SAMPLES,
                      [&](std::span<const float> frame) { return channel.decode_soft(frame); }, lost,
                      [&] { return channel.decode_lost(); });
}

std::expected<void, FrameFailure> transcode_frames(Transcoder& transcoder, std::span<const std::uint8_t> bits,
                                                   std::span<std::uint8_t> out, LostFlags lost) {
    const std::size_t size = wire_bytes(transcoder.from());
    if (bits.size() % size != 0)
        return std::unexpected(FrameFailure{bits.size() / size, {VocoderError::WrongBitsLength{size, bits.size() % size}}});
    return each_frame(bits, size, out, wire_bytes(transcoder.to()),
                      [&](std::span<const std::uint8_t> frame) { return transcoder.transcode(frame); }, lost,
                      [&] { return transcoder.transcode_lost(); });
}

}  // namespace ostrel_mbe
