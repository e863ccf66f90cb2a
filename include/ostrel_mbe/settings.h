// SPDX-License-Identifier: GPL-2.0-or-later
// The enumerated settings of a channel and of a transcoder.  Each keeps the namespace of the
// stage that reads it.
#pragma once

#include <cstdint>

namespace ostrel_mbe {

// The half-rate synthesis variant: AmbePlus regenerates the phases of the upper harmonics,
// Baseline uses the full-rate synthesis.
enum class AmbePlus2Synth : std::uint8_t { AmbePlus = 0, Baseline = 1 };

namespace enhancement {
// The post-decoder enhancement mode: None passes the decoded PCM through, Classical runs the
// high-pass and peaking-EQ chain with its fade-in.
enum class EnhancementMode : std::uint8_t { None, Classical };
}  // namespace enhancement

namespace codecs::mbe_baseline {
// How the decoder's formant weight W_l is formed; both clamp W_l to [0.5, 1.2], leave the lowest
// eighth of the harmonics alone and restore the frame energy afterwards.
//   Compat:   W_l = sqrt(M_l) (0.96 Q / (R0 w0 (R0 - R1)))^(1/4), the library's long-standing
//             form.  It grows with the square root of the amplitude level, so at speech levels
//             nearly every weight sits at the 1.2 clamp and formants are hardly sharpened.
//   Standard: W_l = sqrt(M_l) (0.96 pi Q / (R0 w0 (R0^2 - R1^2)))^(1/4), the form of
//             TIA-102.BABA: dimensionless, so the same spectrum is weighted alike at any level.
// with R0 = sum M_l^2, R1 = sum M_l^2 cos(w0 l), Q = R0^2 + R1^2 - 2 R0 R1 cos(w0 l).
enum class FormantWeighting : std::uint8_t { Compat = 0, Standard = 1 };
}  // namespace codecs::mbe_baseline

namespace rate_conversion::predictor {
// What the rate converters do with the amplitudes when the fundamental moved by more than 1 %
// since the previous output frame.
enum class EnvelopeMix : std::uint8_t {
    // The frame's own amplitudes go on unchanged (truncated or extended to the new count).
    None,
    // Each becomes 0.65 of the previous output's log2 envelope, sampled at the new harmonic
    // positions, plus 0.35 of its own value.  The mix carries most of every frame into the
    // next: on speech it smears onsets and decays, and the bridged audio scores about one PESQ
    // point (MOS-LQO) below the unmixed conversion, so converters use it only on request.
    Previous,
};
}  // namespace rate_conversion::predictor

}  // namespace ostrel_mbe
