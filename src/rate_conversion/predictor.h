// SPDX-License-Identifier: GPL-2.0-or-later
// Spectral amplitude predictor of the rate converters: puts one frame's amplitudes on the
// destination codec's harmonic grid (new fundamental, new harmonic count L') and, on request,
// mixes in the previous output frame's log2 envelope, sampled at the new harmonic positions,
// whenever the fundamental moved by more than 1 %.  Amplitudes are linear; the interpolation
// runs in the log2 domain in 64-bit and the mix in 32-bit.
#pragma once

#include <array>
#include <bit>
#include <cstdint>

#include "mbe_params.h"
#include "settings.h"  // EnvelopeMix, a transcoder setting

namespace ostrel_mbe::rate_conversion::predictor {

// The previous output frame, as the next blend sees it.
struct BlendState {
    // Slot 0 always holds 1.0; the previous amplitudes sit at 1..previous_l.
    std::array<float, L_HAT_MAX + 1> previous_amplitudes = filled(1.0f);
    float previous_omega0 = std::bit_cast<float>(0x3E4BC383u);  // 0.19898800551891327
    std::uint8_t previous_l = 30;

    friend bool operator==(const BlendState&, const BlendState&) = default;

private:
    static constexpr std::array<float, L_HAT_MAX + 1> filled(float v) {
        std::array<float, L_HAT_MAX + 1> a{};
        a.fill(v);
        return a;
    }
};

// Weight of the predicted amplitude in the mix; the frame's own amplitude keeps the rest,
// 1 - 0.65 rounded in 32-bit arithmetic (0.35000002).
inline constexpr float PREDICTED_WEIGHT = 0.65f;
inline constexpr float OWN_WEIGHT = 1.0f - PREDICTED_WEIGHT;

// The parameters on the new grid: fundamental new_omega0, new_l harmonics (9..56; amplitudes
// and voicing truncated, or extended with unvoiced harmonics at the top amplitude), amplitudes
// mixed as `mix` says.  The state then holds this output.  new_omega0 must lie inside (0, pi).
MbeParams blend(const MbeParams& params, std::uint8_t new_l, BlendState& state, float new_omega0,
                EnvelopeMix mix = EnvelopeMix::None);

}  // namespace ostrel_mbe::rate_conversion::predictor
