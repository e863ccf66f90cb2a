// SPDX-License-Identifier: GPL-2.0-or-later
// Streaming over one channel: LiveEncoder takes PCM and LiveDecoder wire bytes in chunks of any
// size, cut them into whole frames and run one Vocoder call per completed frame.  Less than a
// frame stays pending for the next call; the channel's state runs on across calls exactly as
// if the frames had been given one by one.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <vector>

#include "pipeline_types.h"
#include "rate.h"
#include "vocoder.h"
#include "vocoder_error.h"
#include "whole_buffer.h"

namespace ostrel_mbe {

// The pending input of a stream: at most one frame of Capacity items, held in place.
template <class T, std::size_t Capacity>
class PendingFrame {
public:
    std::size_t size() const { return size_; }
    void clear() { size_ = 0; }

    // Cuts pending + input into frames of `frame` items (at most Capacity) and calls
    // on_frame(span of one frame) for each, in order; the remainder stays pending.  The input is
    // read in place: only the first partial frame and the remainder are copied.
    template <class OnFrame>
    void push(std::span<const T> input, std::size_t frame, OnFrame&& on_frame) {
        if (size_ > 0) {
            const std::size_t take = std::min(frame - std::min(frame, size_), input.size());
            std::copy_n(input.begin(), take, items_.begin() + static_cast<std::ptrdiff_t>(size_));
            size_ += take;
            input = input.subspan(take);
            if (size_ < frame) return;
            size_ = 0;
            on_frame(std::span<const T>(items_.data(), frame));
        }
        while (input.size() >= frame) {
            on_frame(input.first(frame));
            input = input.subspan(frame);
        }
        std::copy(input.begin(), input.end(), items_.begin());
        size_ = input.size();
    }

    // The pending items followed by zeros up to `frame`, now all pending.
    std::span<const T> pad_to(std::size_t frame) {
        std::fill(items_.begin() + static_cast<std::ptrdiff_t>(size_), items_.begin() + static_cast<std::ptrdiff_t>(frame), T{});
        size_ = frame;
        return {items_.data(), frame};
    }

private:
    std::array<T, Capacity> items_{};
    std::size_t size_ = 0;
};

// What both directions hold and do alike: one channel, and at most one frame of pending input.
template <class T, std::size_t Capacity>
class LiveStream {
public:
    void discard_pending() { pending_.clear(); }
    // A fresh channel (Vocoder::reset) and nothing pending.
    void reset() {
        channel_.reset();
        pending_.clear();
    }
    Rate rate() const { return channel_.rate(); }
    Vocoder& channel() { return channel_; }
    const Vocoder& channel() const { return channel_; }

protected:
    explicit LiveStream(Rate rate) : channel_(rate) {}

    Vocoder channel_;
    PendingFrame<T, Capacity> pending_;
};

class LiveEncoder : public LiveStream<std::int16_t, FRAME_SAMPLES> {
public:
    using Result = std::expected<WireFrame, VocoderError>;

    explicit LiveEncoder(Rate rate) : LiveStream(rate) {}

    // One entry per frame completed by this call, in input order: its wire bytes or its error.
    // A failed frame does not stop the frames after it.
    std::vector<Result> push(std::span<const std::int16_t> samples);
    // With samples pending: pads them with zeros to a frame and encodes it.  On success nothing
    // stays pending; on failure the padded frame stays pending and the next push encodes it
    // first.  Nothing pending: nullopt.
    std::optional<Result> flush();
    // push, with the completed frames' wire bytes concatenated into out, which holds
    // wire_bytes(rate()) bytes for each of frames_completed(samples.size()) frames.  Every
    // complete frame is consumed as by push; the first failure (its index among this call's
    // frames) is returned and its slot and those after it are left as they were.
    std::expected<void, FrameFailure> push_into(std::span<const std::int16_t> samples, std::span<std::uint8_t> out);
    // Frames a push of `samples` more samples completes.
    std::size_t frames_completed(std::size_t samples) const { return (pending_.size() + samples) / FRAME_SAMPLES; }

    std::size_t pending_samples() const { return pending_.size(); }
};

class LiveDecoder : public LiveStream<std::uint8_t, WIRE_BYTES[0]> {
public:
    using Result = std::expected<PcmFrame, VocoderError>;

    explicit LiveDecoder(Rate rate) : LiveStream(rate) {}

    // One entry per frame completed by this call: 160 samples (the framing rules out errors).
    std::vector<Result> push(std::span<const std::uint8_t> bytes);
    // push, with the completed frames' samples concatenated into out, which holds FRAME_SAMPLES
    // samples for each of frames_completed(bytes.size()) frames.
    std::expected<void, FrameFailure> push_into(std::span<const std::uint8_t> bytes, std::span<std::int16_t> out);
    // Frames a push of `bytes` more bytes completes.
    std::size_t frames_completed(std::size_t bytes) const { return (pending_.size() + bytes) / wire_bytes(rate()); }
    // The same for soft values, one per wire bit (Vocoder::decode_soft), pending apart from
    // bytes.  A non-finite value refuses the whole call before anything changes.
    std::expected<std::vector<PcmFrame>, VocoderError> push_soft(std::span<const float> values);
    // One frame of concealment (Vocoder::decode_lost) per lost frame.  Pending input, bytes or
    // soft values, belonged to the frames lost and is dropped.
    std::vector<PcmFrame> push_lost(std::size_t count = 1);

    std::size_t pending_bytes() const { return pending_.size(); }
    std::size_t pending_soft() const { return pending_soft_.size(); }
    void discard_pending() {
        pending_.clear();
        pending_soft_.clear();
    }
    void reset() {
        LiveStream::reset();
        pending_soft_.clear();
    }

private:
    PendingFrame<float, 8 * WIRE_BYTES[0]> pending_soft_;
};

}  // namespace ostrel_mbe
