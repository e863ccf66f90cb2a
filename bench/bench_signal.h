// SPDX-License-Identifier: GPL-2.0-or-later
// Speech-like test signal shared by the benchmarks: a glottal-pulse-like harmonic series with
// a gliding pitch and a syllabic amplitude envelope, plus a little noise; and its wire frames.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <span>
#include <utility>
#include <vector>

#include "vocoder.h"

namespace ostrel_mbe::bench {

inline std::vector<std::int16_t> speech_like(std::size_t samples, unsigned seed = 7) {
    std::vector<std::int16_t> out(samples);
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 150.0);
    double phase = 0.0;
    for (std::size_t n = 0; n < samples; ++n) {
        const double t = static_cast<double>(n) / 8000.0;
        const double f0 = 120.0 + 40.0 * std::sin(2.0 * std::numbers::pi * 0.7 * t);
        const double envelope = 0.5 + 0.5 * std::sin(2.0 * std::numbers::pi * 3.0 * t);
        phase += 2.0 * std::numbers::pi * f0 / 8000.0;
        double s = 0.0;
        for (int h = 1; h * f0 < 3800.0; ++h) s += std::sin(h * phase) / (1.0 + 0.3 * h);
        out[n] = static_cast<std::int16_t>(std::lround(std::clamp(5000.0 * envelope * s + noise(rng), -32768.0, 32767.0)));
    }
    return out;
}

// The first `frames` frames of speech_like encoded at `rate` by a fresh channel.
inline std::vector<WireFrame> encoded_stream(Rate rate, std::size_t frames) {
    const auto pcm = speech_like(frames * FRAME_SAMPLES);
    Vocoder enc(rate);
    std::vector<WireFrame> out;
    for (std::size_t i = 0; i < frames; ++i) {
        out.push_back(*enc.encode_pcm(std::span<const std::int16_t>(pcm).subspan(i * FRAME_SAMPLES, FRAME_SAMPLES)));
    }
    return out;
}

// One soft value per wire bit: the bit's sign with a pseudo-random confidence, some of it wrong.
inline std::vector<std::vector<float>> soft_stream(const std::vector<WireFrame>& frames) {
    std::vector<std::vector<float>> out;
    std::uint32_t seed = 12345;
    for (const auto& f : frames) {
        std::vector<float> soft;
        for (std::uint8_t byte : f.span()) {
            for (int b = 7; b >= 0; --b) {
                seed = seed * 1664525u + 1013904223u;
                const float confidence = static_cast<float>(seed >> 8) / 16777216.0f * 2.0f - 0.1f;
                soft.push_back(((byte >> b) & 1) ? confidence : -confidence);
            }
        }
        out.push_back(std::move(soft));
    }
    return out;
}

}  // namespace ostrel_mbe::bench
