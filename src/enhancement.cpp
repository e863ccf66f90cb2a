// SPDX-License-Identifier: GPL-2.0-or-later
#include "enhancement.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace ostrel_mbe::enhancement {
namespace {

float run_biquad(const BiquadCoefficients& c, BiquadMemory& m, float x) {
    const float y = c.b0 * x + c.b1 * m.x1 + c.b2 * m.x2 - c.a1 * m.y1 - c.a2 * m.y2;
    m.x2 = m.x1;
    m.x1 = x;
    m.y2 = m.y1;
    m.y1 = y;
    return y;
}

}  // namespace

EnhancementConfig EnhancementConfig::with_mode(EnhancementMode mode) {
    EnhancementConfig config;
    if (mode == EnhancementMode::None) config.tag = ChainTag::Off;
    return config;
}

void apply(const EnhancementConfig& config, EnhancementState& state, std::span<std::int16_t> pcm, bool continuous,
           float sample_rate) {
    if (config.tag == ChainTag::Off) return;
    if (!continuous) state.fade_remaining = config.fade_length;

    const bool compress = config.compressor_present != 0;
    float attack = 0.0f;
    float release = 0.0f;
    float threshold = 0.0f;
    float makeup = 0.0f;
    float ratio = 1.0f;
    if (compress) {
        const CompressorSettings& s = config.compressor;
        attack = std::exp(-1.0f / (sample_rate * std::max(s.attack_ms, 0.1f) * 0.001f));
        release = std::exp(-1.0f / (sample_rate * std::max(s.release_ms, 0.1f) * 0.001f));
        threshold = std::pow(10.0f, s.threshold_db / 20.0f);
        makeup = std::pow(10.0f, s.makeup_db / 20.0f);
        ratio = std::max(s.ratio, 1.0f);
    }
    const float gain = config.output_gain_db == 0.0f ? 1.0f : std::pow(10.0f, config.output_gain_db / 20.0f);
    const float fade_length = static_cast<float>(config.fade_length);
    constexpr float pi = std::numbers::pi_v<float>;
    // Filter coefficients and memories as locals for the loop, so that they stay in registers
    // (through the references every sample's stores could alias them); the same arithmetic.
    const BiquadCoefficients high_pass = config.high_pass;
    const BiquadCoefficients peaking = config.peaking;
    BiquadMemory high_pass_memory = state.high_pass;
    BiquadMemory peaking_memory = state.peaking;
    const bool with_high_pass = config.tag == ChainTag::OnWithHighPass;
    const bool with_peaking = config.peaking_present != 0;
    for (std::size_t i = 0; i < pcm.size(); ++i) {
        const float x = static_cast<float>(pcm[i]) / 32768.0f;
        float y = with_high_pass ? run_biquad(high_pass, high_pass_memory, x) : x;
        if (with_peaking) y = run_biquad(peaking, peaking_memory, y);

        if (compress) {
            const float e = std::abs(y);
            float& env = state.compressor_envelope;
            const float c = env < e ? attack : release;
            env = env * c + e * (1.0f - c);
            float g = makeup;
            if (env > threshold && env > 0.0f) {
                g = makeup * std::pow(10.0f, std::log10(env / threshold) * 20.0f * (-(1.0f - 1.0f / ratio)) / 20.0f);
            }
            y *= g;
        }

        if (state.fade_remaining > 0 && i < config.fade_length) {
            const std::uint64_t remaining = std::min(state.fade_remaining, config.fade_length);
            const float done = static_cast<float>(config.fade_length - remaining);
            y *= 0.5f - 0.5f * std::cos(done * pi / fade_length);
            --state.fade_remaining;
        }

        const float v = std::clamp(gain * y * 32768.0f, -32768.0f, 32767.0f);
        // Truncation toward zero is what the conversion does; a NaN from a degenerate
        // configuration becomes silence instead of an undefined conversion.
        pcm[i] = std::isnan(v) ? std::int16_t{0} : static_cast<std::int16_t>(v);
    }
    state.high_pass = high_pass_memory;
    state.peaking = peaking_memory;
}

}  // namespace ostrel_mbe::enhancement
