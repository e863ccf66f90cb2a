// SPDX-License-Identifier: GPL-2.0-or-later
// Pitch refinement: fits a harmonic comb of window transforms to the 256-bin spectrum at ten
// periods on a quarter-sample grid around the initial period (offsets +-0.125..1.125 samples) and
// keeps the best, giving omega0 in radians per sample and the harmonic count L (9..56).
#pragma once

#include <cstdint>
#include <span>

#include "codecs/mbe_baseline/analysis/basis.h"

namespace ostrel_mbe::codecs::mbe_baseline::analysis::refine {

struct RefinedPitch {
    double omega0 = 0.0;          // radians per sample
    double error = 0.0;           // E_R, the smallest spectral fit error
    std::uint8_t harmonic_count = 0;  // L
};

// L = floor(0.9254 floor(pi / omega0 + 0.25)), clamped to 9..56.
std::uint8_t harmonic_count_for(double omega0);

RefinedPitch refine_pitch(const basis::Spectrum& spectrum, std::span<const double, basis::BASIS_LENGTH> basis,
                          double period);

}  // namespace ostrel_mbe::codecs::mbe_baseline::analysis::refine
