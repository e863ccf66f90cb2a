// SPDX-License-Identifier: GPL-2.0-or-later
// Output enhancement chain (the post-filter) on decoded 16-bit PCM in place: high-pass (250 Hz) and peaking (2500 Hz,
// +3 dB) biquads from the audio-EQ cookbook at 8000 samples/s, optional compressor, fade-in after a
// discontinuity, output gain.  32-bit floating point on samples scaled to [-1, 1).
#pragma once

#include <cstdint>
#include <span>

#include "settings.h"

namespace ostrel_mbe::enhancement {

// Which stages the chain runs; the values are the configuration's stored tag.
enum class ChainTag : std::uint8_t { OnWithoutHighPass = 0, OnWithHighPass = 1, Off = 2 };

// Direct-form-I biquad, normalised so that a0 = 1.
struct BiquadCoefficients {
    float b0 = 1.0f;
    float b1 = 0.0f;
    float b2 = 0.0f;
    float a1 = 0.0f;
    float a2 = 0.0f;
};

struct CompressorSettings {
    float threshold_db = 0.0f;
    float ratio = 1.0f;
    float attack_ms = 0.0f;
    float release_ms = 0.0f;
    float makeup_db = 0.0f;
};

// Default member values are the classical chain.
struct EnhancementConfig {
    ChainTag tag = ChainTag::OnWithHighPass;
    BiquadCoefficients high_pass{0.870314777f, -1.74062955f, 0.870314777f, -1.72374451f, 0.757514775f};
    std::uint32_t peaking_present = 1;
    BiquadCoefficients peaking{1.11546457f, 0.551149547f, 0.32475844f, 0.551149547f, 0.440222919f};
    std::uint32_t compressor_present = 0;
    CompressorSettings compressor{};
    std::uint64_t fade_length = 40;  // samples
    float output_gain_db = 0.0f;

    // The default configuration of a mode: the classical chain, switched off for None.
    static EnhancementConfig with_mode(EnhancementMode mode);
    EnhancementMode mode() const { return tag == ChainTag::Off ? EnhancementMode::None : EnhancementMode::Classical; }
};

struct BiquadMemory {
    float x1 = 0.0f;
    float x2 = 0.0f;
    float y1 = 0.0f;
    float y2 = 0.0f;
};

struct EnhancementState {
    BiquadMemory high_pass{};
    BiquadMemory peaking{};
    std::uint64_t fade_remaining = 0;  // samples
    float compressor_envelope = 0.0f;
};

// Processes pcm in place.  continuous is false after a repeated or muted frame and for the first
// frame after construction or reset, which restarts the fade-in.  sample_rate in samples/s.
void apply(const EnhancementConfig& config, EnhancementState& state, std::span<std::int16_t> pcm, bool continuous,
           float sample_rate);

// The same chain, leaving pcm as it is and writing its output to scaled (at least pcm.size()
// values) before the conversion to 16 bits: gain applied, scaled to [-1, 1) but not clamped,
// so that a later stage can bring peaks down instead of clipping them.  With the chain off,
// scaled is pcm / 32768.
void apply_scaled(const EnhancementConfig& config, EnhancementState& state, std::span<std::int16_t> pcm,
                  std::span<float> scaled, bool continuous, float sample_rate);

}  // namespace ostrel_mbe::enhancement
