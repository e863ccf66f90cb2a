// SPDX-License-Identifier: GPL-2.0-or-later
// Stationary-noise estimate per bin of the 256-bin analysis spectrum, learned only from steady,
// quiet frames, and power spectral subtraction of a tenth of that estimate (gain floor sqrt(0.02))
// applied to the spectrum used for amplitude estimation.  Powers are |S(k)|^2 in spectrum units.
#pragma once

#include <array>
#include <cstdint>

#include "codecs/mbe_baseline/analysis/basis.h"

namespace ostrel_mbe::codecs::mbe_baseline::analysis::denoise {

struct NoiseSpectrum {
    std::array<double, basis::SPECTRUM_BINS> noise_power{};     // N[k]
    std::array<double, basis::SPECTRUM_BINS> smoothed_power{};  // Q[k]
    std::uint32_t qualifying_count = 0;
    bool ready = false;
    bool primed = false;

    // spectrum as computed (before subtraction), the driver's silence flag, the received
    // frame's energy e and the noise floor f as updated this frame.
    void update(const basis::Spectrum& spectrum, bool silent, double frame_energy, double noise_floor);

    friend bool operator==(const NoiseSpectrum&, const NoiseSpectrum&) = default;
};

// Scales each bin of spectrum by sqrt(max(P - 0.1 N, 0.02 P) / P); no change until N is ready.
void subtract_noise(basis::Spectrum& spectrum, const NoiseSpectrum& noise);

}  // namespace ostrel_mbe::codecs::mbe_baseline::analysis::denoise
