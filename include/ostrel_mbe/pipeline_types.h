// Values the channel hands back: wire frames, PCM frames and the encode and decode reports,
// and the AMBE+2 synthesis variant setting.
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

enum class AmbePlus2Synth : std::uint8_t { AmbePlus = 0, Baseline = 1 };

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

struct DecodeReport {
    codecs::mbe_baseline::FrameDisposition disposition = codecs::mbe_baseline::FrameDisposition::None;
    std::uint8_t e0 = 0;
    std::uint8_t total = 0;
};

}  // namespace ostrel_mbe
