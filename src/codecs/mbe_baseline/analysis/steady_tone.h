// SPDX-License-Identifier: GPL-2.0-or-later
// Steady-tone detection, the stricter alternative to tone_detect's per-frame verdict: a tone is
// reported only once the same table tone has been found in STEADY_TONE_FRAMES consecutive
// frames at a steady level (amplitude indices at most MAX_LEVEL_STEP apart from frame to frame),
// each time holding at least MIN_TONE_SHARE of the frame's power in the main lobes of its one
// or two table frequencies.  Voiced speech, whose strongest harmonic often lies within
// 20 Hz of some single-tone entry, spreads its power over many harmonics and moves its pitch,
// so it stays speech; a DTMF digit (at least 40 ms) or a held tone is still sent as a tone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "codecs/mbe_baseline/analysis/tone_detect.h"

namespace ostrel_mbe::codecs::mbe_baseline::analysis {

inline constexpr std::size_t STEADY_TONE_FRAMES = 3;
inline constexpr double MIN_TONE_SHARE = 0.9;
inline constexpr int MAX_LEVEL_STEP = 1;  // amplitude index steps of 0.7115 dB

// What the detector remembers between frames: the tone found in the last frames and in how
// many consecutive ones.  Reset: nothing found yet.
struct SteadyToneState {
    std::uint8_t id = 0;
    std::uint8_t amplitude = 0;  // of the last frame
    std::uint8_t run = 0;        // consecutive frames with tone `id` at a steady level, saturating
};

// Share of the power of bins 1..128 that lies within the main lobes (+-3 bins) of the table
// frequencies of tone `id`; 0 for a silent frame.
double tone_share(const PowerSpectrum& psd, std::uint8_t id);

// The standard detector's verdict on this frame when it dominates the spectrum and the same
// tone has persisted over STEADY_TONE_FRAMES frames, this one included; advances the state.
ToneDetection detect_steady_tone(std::span<const std::int16_t, TONE_FRAME_SAMPLES> samples, SteadyToneState& state);

}  // namespace ostrel_mbe::codecs::mbe_baseline::analysis
