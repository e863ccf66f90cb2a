// SPDX-License-Identifier: GPL-2.0-or-later
#include "enhancement/agc.h"

#include <algorithm>
#include <cmath>

namespace ostrel_mbe::enhancement::agc {
namespace {

// Frames over which the power estimate averages (0.5 s of 20 ms frames): long enough to span
// several syllables, short enough to follow a new talker within the first second.  Until that
// many frames have been seen the estimate is their plain mean, so it starts unbiased.
constexpr std::uint32_t AVERAGE_FRAMES = 25;
// Voice frames more than 15 dB below the speech level are pauses between words (breath,
// background); they neither lift nor lower the estimate.
constexpr double PAUSE_RATIO = 0.0316227766;  // -15 dB in power
// The gain rises by at most 1 dB per frame (50 dB/s) and falls at once.
constexpr float RISE_PER_FRAME = 1.12201845f;
// Attenuation is bounded too, so that a burst of full-scale garbage cannot silence a call.
constexpr float MIN_GAIN = 0.01f;  // -40 dB

}  // namespace

void apply(const Settings& settings, State& state, std::span<float> samples, bool adapt) {
    const float start = state.gain;
    float end = start;
    if (adapt && !samples.empty()) {
        double energy = 0.0;
        for (const float v : samples) energy += static_cast<double>(v) * v;
        energy /= static_cast<double>(samples.size());
        // Frames 15 dB below the quietest talker the gain can bring to the target (digital
        // silence, a quiet line) are not speech to measure, even while the estimate is empty.
        const double floor = std::pow(10.0, (settings.level_dbfs - settings.max_gain_db) / 10.0) * PAUSE_RATIO;
        if (energy >= floor && (state.frames == 0 || energy >= state.power * PAUSE_RATIO)) {
            if (state.frames < AVERAGE_FRAMES) ++state.frames;
            state.power += (energy - state.power) / static_cast<double>(state.frames);
        }
        if (state.power > 0.0) {
            const double wanted = std::pow(10.0, settings.level_dbfs / 20.0) / std::sqrt(state.power);
            const double most = std::pow(10.0, settings.max_gain_db / 20.0);
            const auto target = static_cast<float>(std::clamp(wanted, static_cast<double>(MIN_GAIN), most));
            end = target < start ? target : std::min(target, start * RISE_PER_FRAME);
        }
    }
    // A ramp across the frame, so that a change of gain makes no step.
    const float step = (end - start) / static_cast<float>(std::max<std::size_t>(samples.size(), 1));
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] *= start + step * static_cast<float>(i + 1);
    state.gain = end;
}

}  // namespace ostrel_mbe::enhancement::agc
