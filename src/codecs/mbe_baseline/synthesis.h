// SPDX-License-Identifier: GPL-2.0-or-later
// Frame synthesis: MbeParams and channel-error counts of one frame to 160 signed 16-bit samples at
// 8000 samples/s, with frame repeat and muting, amplitude enhancement and smoothing, unvoiced and
// voiced synthesis.  Error thresholds after TIA-102.BABA (full rate) and the half-rate decoder.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "codecs/mbe_baseline/spectral_enhance.h"
#include "codecs/mbe_baseline/unvoiced.h"
#include "codecs/mbe_baseline/voiced.h"
#include "mbe_params.h"
#include "pipeline_types.h"  // FrameDisposition, which the channel's decode report carries

namespace ostrel_mbe::codecs::mbe_baseline {

// Channel settings that synthesis reads; owned by the channel.
struct SynthSettings {
    bool chip_compat = false;
    bool chip_compat_spectral_clamp = false;
    std::optional<std::uint32_t> repeat_reset_after;
    FormantWeighting formant_weighting = FormantWeighting::Compat;
};

// Per-frame error summary from the pipeline: erasure bit 0 forces a repeat (unless the error rate
// mutes), bit 1 forces a mute (a lost frame past its repeats); e0 counts the errors corrected in
// the most protected code word; e4 feeds adaptive smoothing only; total is eps_T.
inline constexpr std::uint8_t ERASURE_REPEAT = 1;
inline constexpr std::uint8_t ERASURE_MUTE = 2;
struct FrameErrorCounts {
    std::uint8_t erasure = 0;
    std::uint8_t e0 = 0;
    std::uint8_t e4 = 0;
    std::uint8_t total = 0;
};

inline constexpr float RESET_FRAME_OMEGA0 = 0.9375444f;
inline constexpr std::uint8_t RESET_FRAME_HARMONICS = 30;

struct SynthState {
    VoicedState voiced{};
    NoiseState noise{};
    double error_rate = 0.0;                                  // eps_R
    double smoothed_energy = SMOOTHED_ENERGY_RESET;           // S_E
    double amplitude_threshold = AMPLITUDE_THRESHOLD_RESET;   // tau_M
    std::uint32_t repeat_count = 0;                           // consecutive non-Normal frames
    std::optional<MbeParams> saved_params{};                  // input of the last synthesized frame
    std::uint8_t clamp_harmonic_count = 0;                    // L of the previous frame
    FrameDisposition disposition = FrameDisposition::None;

    // A state at its reset values whose noise generator starts from lcg and fills its first
    // window from index noise_start (NoiseState::start).
    static SynthState with_lcg(LcgParams lcg, std::size_t noise_start = 0);
    FrameDisposition last_disposition() const { return disposition; }
};

// The frame used in place of a lost one once repeat_reset_after repeats have been made: 30
// unvoiced harmonics of amplitude 1 at omega0 = 0.9375444.
const MbeParams& reset_frame();

// Clamps to the 16-bit range and rounds half away from zero; NaN gives 0.
std::int16_t to_pcm_sample(double value);
// to_pcm_sample(a[n] + b[n]) for n = 0..159.
std::array<std::int16_t, 160> to_pcm_frame(const std::array<double, 160>& a, const std::array<double, 160>& b);

// ambe_plus selects the half-rate error thresholds, phase regeneration and the optional spectral
// clamp.  unvoiced_scale is the gain from amplitude to noise level.  Never fails.
std::array<std::int16_t, 160> synthesize_frame_with_mode(const MbeParams& params, const FrameErrorCounts& errors,
                                                         bool ambe_plus, const SynthSettings& settings,
                                                         SynthState& state, double unvoiced_scale);

}  // namespace ostrel_mbe::codecs::mbe_baseline
