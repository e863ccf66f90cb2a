// SPDX-License-Identifier: GPL-2.0-or-later
// A speech-like test input for the channel-level tests: a harmonic series with a falling
// spectral tilt and a slow 5 % pitch glide around a known fundamental, so frames differ from
// each other.
#pragma once

#include <cmath>
#include <cstdint>
#include <numbers>
#include <span>
#include <vector>

#include "rate.h"

namespace ostrel_mbe::test_signal {

inline std::vector<std::int16_t> voiced_signal(std::size_t frames, double f0 = 140.0, double level = 6000.0) {
    std::vector<std::int16_t> out(frames * FRAME_SAMPLES);
    double phase = 0.0;
    for (std::size_t n = 0; n < out.size(); ++n) {
        const double f = f0 * (1.0 + 0.05 * std::sin(2.0 * std::numbers::pi * static_cast<double>(n) / 4000.0));
        phase += 2.0 * std::numbers::pi * f / 8000.0;
        double s = 0.0;
        for (int h = 1; h * f < 3600.0; ++h) s += std::sin(h * phase) / h;
        out[n] = static_cast<std::int16_t>(std::lround(level * s / 2.0));
    }
    return out;
}

// Frame i of a signal.
inline std::span<const std::int16_t> frame_of(const std::vector<std::int16_t>& s, std::size_t i) {
    return std::span<const std::int16_t>(s).subspan(i * FRAME_SAMPLES, FRAME_SAMPLES);
}

}  // namespace ostrel_mbe::test_signal
