// SPDX-License-Identifier: GPL-2.0-or-later
// Whole buffers in one call: every frame of a PCM buffer, of a run of wire frames, or of a run
// to transcode, through one channel (or transcoder) in order, written straight into a buffer the
// caller sized.  The channel's state runs on exactly as if the frames had been given one by one;
// the calls stop at the first frame that fails and say which one it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>

#include "pipeline_types.h"
#include "rate.h"
#include "transcoder.h"
#include "vocoder.h"
#include "vocoder_error.h"

namespace ostrel_mbe {

// The frame (counted from 0 in the call's input) that failed, and its error.  Frames before it
// were written; the channel has seen them and the failed frame, nothing after.
struct FrameFailure {
    std::size_t frame = 0;
    VocoderError error;
};

// The items of one frame's result, for copying it into a concatenated output.
inline std::span<const std::uint8_t> frame_data(const WireFrame& frame) { return frame.span(); }
inline std::span<const std::int16_t> frame_data(const PcmFrame& frame) { return frame; }

// One flag per frame of a call's input, nonzero for a frame that never arrived: its slot in the
// input is ignored and the channel conceals it as Vocoder::decode_lost (Transcoder::transcode_lost)
// would.  Empty: every frame arrived.
using LostFlags = std::span<const std::uint8_t>;

// Frames of FRAME_SAMPLES that `samples` samples fill, the last one padded.
constexpr std::size_t padded_frames(std::size_t samples) { return (samples + FRAME_SAMPLES - 1) / FRAME_SAMPLES; }

// pcm holds whole frames (a multiple of FRAME_SAMPLES; else the partial tail fails with
// WrongPcmLength); out holds wire_bytes(channel.rate()) bytes per frame.
std::expected<void, FrameFailure> encode_frames(Vocoder& channel, std::span<const std::int16_t> pcm,
                                                std::span<std::uint8_t> out);

// bits holds whole wire frames of the channel's rate (else the partial tail fails with
// WrongBitsLength, before any frame is decoded); out holds FRAME_SAMPLES samples per frame.
std::expected<void, FrameFailure> decode_frames(Vocoder& channel, std::span<const std::uint8_t> bits,
                                                std::span<std::int16_t> out, LostFlags lost = {});

// soft holds whole frames of 8 * wire_bytes(channel.rate()) soft values each, one per wire bit
// (Vocoder::decode_soft; else the partial tail fails with WrongSoftLength, before any frame is
// decoded); out holds FRAME_SAMPLES samples per frame.
std::expected<void, FrameFailure> decode_soft_frames(Vocoder& channel, std::span<const float> soft,
                                                     std::span<std::int16_t> out, LostFlags lost = {});

// bits holds whole frames of the source rate (else WrongBitsLength, before any frame is
// converted); out holds wire_bytes(transcoder.to()) bytes per frame.
//
// `lost`, when given, holds exactly one flag per frame of the input (a precondition).
std::expected<void, FrameFailure> transcode_frames(Transcoder& transcoder, std::span<const std::uint8_t> bits,
                                                   std::span<std::uint8_t> out, LostFlags lost = {});

}  // namespace ostrel_mbe
