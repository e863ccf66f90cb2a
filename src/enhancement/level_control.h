// SPDX-License-Identifier: GPL-2.0-or-later
// Level control after the enhancement chain, in either enhancement mode: automatic gain
// control, a fixed output gain (dB), then the peak limiter, and the conversion to 16 bits.
// Its settings belong to the channel apart from the chain's configuration, so replacing the
// enhancement mode leaves them as they are.
#pragma once

#include <cstdint>
#include <span>

#include "enhancement/agc.h"
#include "enhancement/limiter.h"

namespace ostrel_mbe::enhancement::level_control {

struct Settings {
    bool agc = false;
    agc::Settings agc_settings{};
    float output_gain_db = 0.0f;

    // Off (the default), decoded frames take the chain's own conversion, untouched.
    bool active() const { return agc || output_gain_db != 0.0f; }
};

struct State {
    agc::State agc{};
    limiter::State limiter{};
};

// scaled: the chain's output of one frame in [-1, 1) scale (modified); out: the 16-bit
// samples, truncated toward zero like the chain's own conversion.  adapt as for agc::apply.
void apply(const Settings& settings, State& state, std::span<float> scaled, bool adapt, std::span<std::int16_t> out);

// The clamps the setters apply: level -60..0 dBFS, maximum gain 0..40 dB, output gain
// -60..+40 dB; NaN keeps the default.
float clamp_level_dbfs(double value);
float clamp_max_gain_db(double value);
float clamp_output_gain_db(double value);

}  // namespace ostrel_mbe::enhancement::level_control
