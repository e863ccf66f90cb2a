// SPDX-License-Identifier: GPL-2.0-or-later
// Values the channel hands back: wire frames, PCM frames and the encode and decode reports.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "mbe_params.h"
#include "rate.h"

namespace ostrel_mbe {

namespace codecs::mbe_baseline {
// What the synthesizer made of a received frame; None until the first frame since construction
// or reset.
enum class FrameDisposition : std::uint8_t { Normal = 0, Repeat = 1, Mute = 2, None = 3 };
}  // namespace codecs::mbe_baseline

enum class OutputKind : std::uint8_t { Voice, Silence, Tone };
std::string_view output_kind_text(OutputKind kind);  // "voice", "silence", "tone"

using PcmFrame = std::array<std::int16_t, FRAME_SAMPLES>;

// Wire bytes of one frame: the first `length` of 18 bytes are used.
struct WireFrame {
    std::array<std::uint8_t, 18> bytes{};
    std::uint8_t length = 0;
    std::span<const std::uint8_t> span() const { return {bytes.data(), length}; }

    template <std::size_t N>
    static WireFrame of(const std::array<std::uint8_t, N>& b) {
        static_assert(N <= 18);
        WireFrame f;
        for (std::size_t i = 0; i < N; ++i) f.bytes[i] = b[i];
        f.length = static_cast<std::uint8_t>(N);
        return f;
    }
};

struct ToneReport {
    std::uint8_t id = 0;
    std::uint8_t amplitude = 0;
    friend bool operator==(const ToneReport&, const ToneReport&) = default;
};

struct EncodeReport {
    OutputKind kind = OutputKind::Voice;
    std::optional<ToneReport> tone;  // set when tone detection is on and found a tone
};

// What a received frame was, as the decoder read it.
enum class FrameKind : std::uint8_t {
    Voice,    // speech parameters
    Silence,  // the encoder's silence frame (pitch index 0, every band unvoiced) or the AMBE+2
              // silence tone (index 255)
    Tone,     // an AMBE+2 tone frame: a single tone or a DTMF pair
    Erasure,  // an AMBE+2 erasure frame: 160 zero samples, not synthesized
    Invalid,  // parameters the dequantizer refuses: 160 zero samples, not synthesized
    Lost,     // a frame that never arrived (Vocoder::decode_lost): repeated or muted
};
// "voice", "silence", "tone", "erasure", "invalid", "lost"
std::string_view frame_kind_text(FrameKind kind);

// The decoder's account of the last decoded frame.
struct DecodeReport {
    // The synthesizer's verdict on the last frame it synthesized (None before the first);
    // erasure and invalid frames are not synthesized and leave it as it was.
    codecs::mbe_baseline::FrameDisposition disposition = codecs::mbe_baseline::FrameDisposition::None;
    std::uint8_t e0 = 0;     // errors of c0 as concealment counted them (AMBE+2: uncorrectable = 4)
    std::uint8_t total = 0;  // errors of the frame as concealment counted them, at most 255
    std::optional<FrameKind> kind;  // none before the first decode since construction or reset
    // Bit errors corrected in c0..c7 (IMBE 7200) or c0..c3 (AMBE+2 3600, where c0 reads 255
    // when uncorrectable); the first code_vectors entries are used, none without FEC.
    std::array<std::uint8_t, 8> errors{};
    std::uint8_t code_vectors = 0;
    std::optional<ToneReport> tone;  // tone frames and the silence tone: index and amplitude
};

}  // namespace ostrel_mbe
