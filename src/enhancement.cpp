// SPDX-License-Identifier: GPL-2.0-or-later
#include "enhancement.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include "common/simd.h"

namespace ostrel_mbe::enhancement {
namespace {

// Samples per block: the stages run one after the other over a block held in a local buffer.
constexpr std::size_t BLOCK = 160;

float run_biquad(const BiquadCoefficients& c, BiquadMemory& m, float x) {
    const float y = c.b0 * x + c.b1 * m.x1 + c.b2 * m.x2 - c.a1 * m.y1 - c.a2 * m.y2;
    m.x2 = m.x1;
    m.x1 = x;
    m.y2 = m.y1;
    m.y1 = y;
    return y;
}

// Runs the high-pass and then the peaking filter, each when present, over y[0..count) in place:
// both in one loop, so that the processor overlaps their recurrences.  Coefficients and memories
// are locals for the loop, so that they stay in registers (the stores to y could otherwise alias
// them).
void run_filters(const EnhancementConfig& config, EnhancementState& state, float* y, std::size_t count) {
    const bool with_high_pass = config.tag == ChainTag::OnWithHighPass;
    const bool with_peaking = config.peaking_present != 0;
    const BiquadCoefficients high_pass = config.high_pass;
    const BiquadCoefficients peaking = config.peaking;
    BiquadMemory high_pass_memory = state.high_pass;
    BiquadMemory peaking_memory = state.peaking;
    for (std::size_t i = 0; i < count; ++i) {
        float v = y[i];
        if (with_high_pass) v = run_biquad(high_pass, high_pass_memory, v);
        if (with_peaking) v = run_biquad(peaking, peaking_memory, v);
        y[i] = v;
    }
    state.high_pass = high_pass_memory;
    state.peaking = peaking_memory;
}

}  // namespace

EnhancementConfig EnhancementConfig::with_mode(EnhancementMode mode) {
    EnhancementConfig config;
    if (mode == EnhancementMode::None) config.tag = ChainTag::Off;
    return config;
}

void run_chain(const EnhancementConfig& config, EnhancementState& state, std::span<std::int16_t> pcm,
               bool continuous, float sample_rate, float* scaled);

// Built twice, for AVX2 and for the baseline instruction set, and picked when the library is
// loaded: the three-operand instructions save the filters' register copies.  Without fused
// multiply-add both builds do the same operations in the same order.
// With scaled null the samples are written back to pcm; otherwise pcm stays as it is and
// scaled receives the chain's output before the conversion to 16 bits (gain applied, no clamp).
OSTREL_AVX2_CLONES
void run_chain(const EnhancementConfig& config, EnhancementState& state, std::span<std::int16_t> pcm,
               bool continuous, float sample_rate, float* scaled) {
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
    std::array<float, BLOCK> y;
    for (std::size_t start = 0; start < pcm.size(); start += BLOCK) {
        const std::size_t count = std::min(BLOCK, pcm.size() - start);
        std::int16_t* const samples = pcm.data() + start;
        for (std::size_t i = 0; i < count; ++i) y[i] = static_cast<float>(samples[i]) / 32768.0f;
        run_filters(config, state, y.data(), count);
        if (compress) {
            float env = state.compressor_envelope;
            for (std::size_t i = 0; i < count; ++i) {
                const float e = std::abs(y[i]);
                const float c = env < e ? attack : release;
                env = env * c + e * (1.0f - c);
                float g = makeup;
                if (env > threshold && env > 0.0f) {
                    g = makeup *
                        std::pow(10.0f, std::log10(env / threshold) * 20.0f * (-(1.0f - 1.0f / ratio)) / 20.0f);
                }
                y[i] *= g;
            }
            state.compressor_envelope = env;
        }
        // The fade covers the first fade_length samples of the call while the count lasts.
        for (std::size_t i = 0; i < count && state.fade_remaining > 0 && start + i < config.fade_length; ++i) {
            const std::uint64_t remaining = std::min(state.fade_remaining, config.fade_length);
            const float done = static_cast<float>(config.fade_length - remaining);
            y[i] *= 0.5f - 0.5f * std::cos(done * pi / fade_length);
            --state.fade_remaining;
        }
        if (scaled != nullptr) {
            for (std::size_t i = 0; i < count; ++i) scaled[start + i] = gain * y[i];
            continue;
        }
        for (std::size_t i = 0; i < count; ++i) {
            const float v = std::clamp(gain * y[i] * 32768.0f, -32768.0f, 32767.0f);
            // Truncation toward zero is what the conversion does; a NaN from a degenerate
            // configuration becomes silence instead of an undefined conversion.
            samples[i] = std::isnan(v) ? std::int16_t{0} : static_cast<std::int16_t>(v);
        }
    }
}

void apply(const EnhancementConfig& config, EnhancementState& state, std::span<std::int16_t> pcm, bool continuous,
           float sample_rate) {
    if (config.tag == ChainTag::Off) return;
    run_chain(config, state, pcm, continuous, sample_rate, nullptr);
}

void apply_scaled(const EnhancementConfig& config, EnhancementState& state, std::span<std::int16_t> pcm,
                  std::span<float> scaled, bool continuous, float sample_rate) {
    if (config.tag == ChainTag::Off) {
        for (std::size_t i = 0; i < pcm.size(); ++i) scaled[i] = static_cast<float>(pcm[i]) / 32768.0f;
        return;
    }
    run_chain(config, state, pcm, continuous, sample_rate, scaled.data());
}

}  // namespace ostrel_mbe::enhancement
