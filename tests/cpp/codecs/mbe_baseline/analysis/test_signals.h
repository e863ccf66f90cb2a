// SPDX-License-Identifier: GPL-2.0-or-later
// Synthetic test inputs for the analysis encoder: harmonic sums with a known period, pulse
// trains and seeded white noise, as 16-bit frames or 480-sample histories.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <span>
#include <vector>

namespace ostrel_mbe::codecs::mbe_baseline::analysis::test_signals {

// sum_l amplitude(l) cos(2 pi l n / period + phase_l) over the harmonics below 3600 Hz.
template <typename AmplitudeOf>
double harmonic_sample(double period, long n, AmplitudeOf amplitude_of) {
    double v = 0.0;
    for (int l = 1; static_cast<double>(l) * 8000.0 / period < 3600.0; ++l) {
        const double phase = 0.7 * static_cast<double>(l * l);  // spread phases keep the crest low
        v += amplitude_of(l) * std::cos(2.0 * std::numbers::pi * static_cast<double>(l) * static_cast<double>(n) / period + phase);
    }
    return v;
}

inline std::vector<std::int16_t> harmonic_pcm(double period, std::size_t count, double level = 1500.0) {
    std::vector<std::int16_t> pcm(count);
    for (std::size_t n = 0; n < count; ++n) {
        const double v = harmonic_sample(period, static_cast<long>(n), [level](int) { return level; });
        pcm[n] = static_cast<std::int16_t>(std::clamp(std::lround(v), -32768L, 32767L));
    }
    return pcm;
}

inline std::vector<std::int16_t> noise_pcm(std::uint32_t seed, std::size_t count, double sigma = 3000.0) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> dist(0.0, sigma);
    std::vector<std::int16_t> pcm(count);
    for (auto& s : pcm) s = static_cast<std::int16_t>(std::clamp(std::lround(dist(rng)), -32768L, 32767L));
    return pcm;
}

template <typename Fn>
std::array<double, 480> history_from(Fn sample) {
    std::array<double, 480> h{};
    for (std::size_t n = 0; n < h.size(); ++n) h[n] = sample(static_cast<long>(n));
    return h;
}

inline std::span<const std::int16_t> frame(const std::vector<std::int16_t>& pcm, std::size_t index) {
    return std::span<const std::int16_t>(pcm).subspan(160 * index, 160);
}

}  // namespace ostrel_mbe::codecs::mbe_baseline::analysis::test_signals
