// SPDX-License-Identifier: GPL-2.0-or-later
// Peak limiter, the last stage before the conversion to 16 bits: a gain that is never above
// what keeps every sample within the ceiling, so nothing clips whatever the gains before it.
// It falls ahead of a peak (up to 4 ms, within the block it sees) and recovers over 50 ms.
// Samples in [-1, 1) scale, ceiling in the same scale.
#pragma once

#include <span>

namespace ostrel_mbe::enhancement::limiter {

// -1 dBFS: room for the truncation to 16 bits and for a later resampler's overshoot.
inline constexpr float CEILING = 0.891250938f;

struct State {
    float gain = 1.0f;
};

// Scales samples (any count) in place so that |sample| <= ceiling.
void apply(State& state, std::span<float> samples, float ceiling = CEILING);

}  // namespace ostrel_mbe::enhancement::limiter
