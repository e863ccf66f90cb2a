// SPDX-License-Identifier: GPL-2.0-or-later
// Spectral amplitude estimation: the linear amplitude of every harmonic l = 1..L of the refined
// fundamental, from the power in the harmonic's bins of the 256-bin spectrum, normalised by the
// window transform (voiced bands) or by the bin count and W(0) (unvoiced bands).
#pragma once

#include <array>
#include <span>

#include "codecs/mbe_baseline/analysis/basis.h"
#include "codecs/mbe_baseline/analysis/refine.h"
#include "codecs/mbe_baseline/analysis/vuv.h"

namespace ostrel_mbe::codecs::mbe_baseline::analysis::amplitude {

// Entry 0 is 0, entries 1..L the amplitudes, the rest 0.
using Amplitudes = std::array<double, 57>;

Amplitudes estimate_spectral_amplitudes(const basis::Spectrum& spectrum,
                                        std::span<const double, basis::BASIS_LENGTH> basis,
                                        const refine::RefinedPitch& pitch, const vuv::VuvDecision& decision);

}  // namespace ostrel_mbe::codecs::mbe_baseline::analysis::amplitude
