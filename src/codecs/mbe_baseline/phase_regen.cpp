// SPDX-License-Identifier: GPL-2.0-or-later
#include "codecs/mbe_baseline/phase_regen.h"

#include <cmath>

#include "common/check.h"

namespace ostrel_mbe::codecs::mbe_baseline::phase_regen {

void ambe_phase_regen(std::span<const float> amplitudes, std::array<double, L_HAT_MAX + 1>& phases) {
    OSTREL_CHECK(amplitudes.size() <= L_HAT_MAX, "harmonic count is at most L_HAT_MAX");
    const std::size_t count = amplitudes.size();

    // Log envelope B_l, padded with the taps' reach on both sides.  Harmonics outside 1..L read
    // as 0 (log2 of 1), so the band edges act as envelope steps.
    constexpr std::size_t PAD = KERNEL_TAPS - 1;
    std::array<double, PAD + L_HAT_MAX + 1 + PAD> log_env{};
    for (std::size_t l = 1; l <= count; ++l) {
        const double m = amplitudes[l - 1];
        log_env[PAD + l] = m > 1e-10 ? std::log2(m) : LOG2_AMPLITUDE_FLOOR;
    }

    phases.fill(0.0);
    for (std::size_t l = 1; l <= count; ++l) {
        double r = 0.0;
        for (std::size_t j = 1; j < KERNEL_TAPS; ++j) {
            const double upper = log_env[PAD + l + j];
            const double lower = j >= l ? 0.0 : log_env[PAD + l - j];
            r += KERNEL[j] * (upper - lower);
        }
        phases[l] = r;
    }
}

}  // namespace ostrel_mbe::codecs::mbe_baseline::phase_regen
