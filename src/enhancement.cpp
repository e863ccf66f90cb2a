// SPDX-License-Identifier: GPL-2.0-or-later
#include "enhancement.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numbers>

#include "common/simd.h"

namespace ostrel_mbe::enhancement {
namespace {

// Samples per block: the stages run one after the other over a block held in a local buffer.
constexpr std::size_t BLOCK = 160;

// The samples of one chunk: short enough that the high-pass of one chunk and the peaking filter
// of the previous one are in flight in the processor together, overlapping the two recurrences.
constexpr std::size_t CHUNK = 8;

// One biquad over a chunk, x[i] its input with x[-2] and x[-1] the inputs before, y[i] its
// output, y1 and y2 its last two outputs.  Each output is the direct form's
// b0 x + b1 x1 + b2 x2 - a1 y1 - a2 y2 in that order; the feed-forward terms do not depend on
// the output, so they are computed for the whole chunk first, across the samples.
[[gnu::always_inline]] inline void run_chunk(const BiquadCoefficients& c, float& y1, float& y2, const float* x,
                                              float* y) {
    // The chunk as one vector (GCC's vector extension: one register on AVX2, lowered lane by
    // lane elsewhere), each lane the same operations in the same order.
    using Lanes = float __attribute__((vector_size(CHUNK * sizeof(float))));
    Lanes x0, x1, x2;
    std::memcpy(&x0, x, sizeof x0);
    std::memcpy(&x1, x - 1, sizeof x1);
    std::memcpy(&x2, x - 2, sizeof x2);
    const Lanes f = c.b0 * x0 + c.b1 * x1 + c.b2 * x2;
    for (std::size_t i = 0; i < CHUNK; ++i) {
        const float v = f[i] - c.a1 * y1 - c.a2 * y2;
        y[i] = v;
        y2 = y1;
        y1 = v;
    }
}

// One sample of the same, for the samples after the last whole chunk.
[[gnu::always_inline]] inline void run_biquad_sample(const BiquadCoefficients& c, float& y1, float& y2, const float* x,
                                                     float* y) {
    const float v = c.b0 * x[0] + c.b1 * x[-1] + c.b2 * x[-2] - c.a1 * y1 - c.a2 * y2;
    *y = v;
    y2 = y1;
    y1 = v;
}

// One biquad over count samples in chunks; x as in run_chunk.
[[gnu::always_inline]] inline void run_one(const BiquadCoefficients& c, BiquadMemory& m, const float* x, float* y,
                                           std::size_t count) {
    std::size_t i = 0;
    for (; i + CHUNK <= count; i += CHUNK) run_chunk(c, m.y1, m.y2, x + i, y + i);
    for (; i < count; ++i) run_biquad_sample(c, m.y1, m.y2, x + i, y + i);
}

// Runs the high-pass and then the peaking filter, each when present, from x[0..count) to
// y[0..count); x[-2] and x[-1] are free for the first filter's memory.  Coefficients and
// memories are locals, so that they stay in registers (the stores to y could otherwise alias
// them).
[[gnu::always_inline]] inline void run_filters(const EnhancementConfig& config, EnhancementState& state, float* x,
                                               float* y, std::size_t count) {
    const bool with_high_pass = config.tag == ChainTag::OnWithHighPass;
    const bool with_peaking = config.peaking_present != 0;
    const BiquadCoefficients high_pass = config.high_pass;
    const BiquadCoefficients peaking = config.peaking;
    BiquadMemory high_pass_memory = state.high_pass;
    BiquadMemory peaking_memory = state.peaking;
    if (with_high_pass && with_peaking) {
        // The high-pass output with the peaking filter's input memory in front.
        std::array<float, 2 + BLOCK> between;
        float* const h = between.data() + 2;
        x[-2] = high_pass_memory.x2, x[-1] = high_pass_memory.x1;
        h[-2] = peaking_memory.x2, h[-1] = peaking_memory.x1;
        // The peaking filter runs LAG chunks behind the high-pass: its vector loads of the
        // high-pass output then read stores that have long retired, instead of waiting on
        // scalar stores still in flight (which cannot be forwarded to a wider load).
        constexpr std::size_t LAG = 2;
        const std::size_t chunks = count / CHUNK;
        for (std::size_t c = 0; c < chunks + LAG; ++c) {
            if (c < chunks) run_chunk(high_pass, high_pass_memory.y1, high_pass_memory.y2, x + c * CHUNK, h + c * CHUNK);
            if (c >= LAG && c - LAG < chunks) {
                const std::size_t at = (c - LAG) * CHUNK;
                run_chunk(peaking, peaking_memory.y1, peaking_memory.y2, h + at, y + at);
            }
        }
        for (std::size_t i = chunks * CHUNK; i < count; ++i) {
            run_biquad_sample(high_pass, high_pass_memory.y1, high_pass_memory.y2, x + i, h + i);
            run_biquad_sample(peaking, peaking_memory.y1, peaking_memory.y2, h + i, y + i);
        }
        high_pass_memory.x2 = x[count - 2], high_pass_memory.x1 = x[count - 1];
        peaking_memory.x2 = h[count - 2], peaking_memory.x1 = h[count - 1];
    } else if (with_high_pass || with_peaking) {
        BiquadMemory& m = with_high_pass ? high_pass_memory : peaking_memory;
        x[-2] = m.x2, x[-1] = m.x1;
        run_one(with_high_pass ? high_pass : peaking, m, x, y, count);
        m.x2 = x[count - 2], m.x1 = x[count - 1];
    } else {
        std::copy(x, x + count, y);
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
    // The filters' input, with room in front for the memory of the first.
    std::array<float, 2 + BLOCK> input;
    float* const x = input.data() + 2;
    std::array<float, BLOCK> y;
    for (std::size_t start = 0; start < pcm.size(); start += BLOCK) {
        const std::size_t count = std::min(BLOCK, pcm.size() - start);
        std::int16_t* const samples = pcm.data() + start;
        for (std::size_t i = 0; i < count; ++i) x[i] = static_cast<float>(samples[i]) / 32768.0f;
        run_filters(config, state, x, y.data(), count);
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
