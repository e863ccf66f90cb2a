// SPDX-License-Identifier: GPL-2.0-or-later
// Automatic gain control for decoded speech: tracks the mean power of active speech over the
// frames the decoder marks as voice received intact, and moves the gain toward the one that
// brings that power to a target RMS level (dBFS, full scale 1.0 on samples in [-1, 1)).  The
// gain drops within a frame and rises by at most 1 dB a frame; on every other frame (repeat,
// mute, silence, tone, comfort noise) it is held, so pauses and concealment are never raised.
#pragma once

#include <cstdint>
#include <span>

namespace ostrel_mbe::enhancement::agc {

struct Settings {
    float level_dbfs = -20.0f;   // target RMS of active speech
    float max_gain_db = 18.0f;   // the gain never exceeds this
};

struct State {
    double power = 0.0;       // mean power of active speech, samples in [-1, 1)
    std::uint32_t frames = 0;  // frames that have moved the power since reset
    float gain = 1.0f;        // linear gain at the end of the last frame
};

// Scales samples (one frame, at most 160) in place.  adapt: the frame is voice the decoder
// played as received; only such frames move the level estimate and the gain.
void apply(const Settings& settings, State& state, std::span<float> samples, bool adapt);

}  // namespace ostrel_mbe::enhancement::agc
