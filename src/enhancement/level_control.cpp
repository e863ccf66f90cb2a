// SPDX-License-Identifier: GPL-2.0-or-later
#include "enhancement/level_control.h"

#include <algorithm>
#include <cmath>

namespace ostrel_mbe::enhancement::level_control {
namespace {

float clamped(double value, double low, double high, float fallback) {
    if (std::isnan(value)) return fallback;
    return static_cast<float>(std::clamp(value, low, high));
}

}  // namespace

void apply(const Settings& settings, State& state, std::span<float> scaled, bool adapt, std::span<std::int16_t> out) {
    if (settings.agc) agc::apply(settings.agc_settings, state.agc, scaled, adapt);
    if (settings.output_gain_db != 0.0f) {
        const float gain = std::pow(10.0f, settings.output_gain_db / 20.0f);
        for (float& v : scaled) v *= gain;
    }
    limiter::apply(state.limiter, scaled);
    for (std::size_t i = 0; i < out.size() && i < scaled.size(); ++i) {
        out[i] = static_cast<std::int16_t>(scaled[i] * 32768.0f);
    }
}

float clamp_level_dbfs(double value) { return clamped(value, -60.0, 0.0, agc::Settings{}.level_dbfs); }
float clamp_max_gain_db(double value) { return clamped(value, 0.0, 40.0, agc::Settings{}.max_gain_db); }
float clamp_output_gain_db(double value) { return clamped(value, -60.0, 40.0, 0.0f); }

}  // namespace ostrel_mbe::enhancement::level_control
