// SPDX-License-Identifier: GPL-2.0-or-later
#include "enhancement/limiter.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace ostrel_mbe::enhancement::limiter {
namespace {

constexpr std::size_t BLOCK = 160;
// The gain may fall from 1 to 0 over 32 samples (4 ms at 8000 samples/s) ahead of a peak.
constexpr float ATTACK_STEP = 1.0f / 32.0f;
// Recovery toward 1 with a 50 ms time constant at 8000 samples/s: 1 - e^(-1/400).
constexpr float RELEASE = 0.00249688f;

}  // namespace

void apply(State& state, std::span<float> samples, float ceiling) {
    std::array<float, BLOCK> allowed;
    float gain = state.gain;
    for (std::size_t start = 0; start < samples.size(); start += BLOCK) {
        const std::size_t count = std::min(BLOCK, samples.size() - start);
        float* const y = samples.data() + start;
        // The largest gain each sample allows, then eased backwards so that the gain falls
        // gradually into a peak instead of stepping at it.  A block under the ceiling at full
        // gain, the usual case, passes untouched.
        bool over = false;
        for (std::size_t i = 0; i < count; ++i) {
            const float magnitude = std::abs(y[i]);
            over = over || !(magnitude <= ceiling);
            allowed[i] = magnitude > ceiling ? ceiling / magnitude : 1.0f;
        }
        if (!over && gain == 1.0f) continue;
        for (std::size_t i = count - 1; i-- > 0;) allowed[i] = std::min(allowed[i], allowed[i + 1] + ATTACK_STEP);
        for (std::size_t i = 0; i < count; ++i) {
            gain = std::min(allowed[i], gain + (1.0f - gain) * RELEASE);
            // A NaN (or an infinite sample times gain 0) is silenced rather than passed on.
            // The clamp only catches the last bit of rounding in ceiling / |y| * |y|.
            const float v = std::clamp(y[i] * gain, -ceiling, ceiling);
            y[i] = std::isnan(v) ? 0.0f : v;
        }
    }
    state.gain = gain;
}

}  // namespace ostrel_mbe::enhancement::limiter
