// SPDX-License-Identifier: GPL-2.0-or-later
#include "codecs/mbe_baseline/phase_regen.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "common/check.h"
#include "common/exp2_log2.h"
#include "common/simd.h"

namespace ostrel_mbe::codecs::mbe_baseline::phase_regen {

using common::simd::Quad;
using common::simd::quad_at;

// Built twice, for AVX2 and for the baseline instruction set, like the voiced synthesis; the
// same operations in the same order either way.
OSTREL_AVX2_CLONES
void ambe_phase_regen(std::span<const float> amplitudes, std::array<double, L_HAT_MAX + 1>& phases) {
    OSTREL_CHECK(amplitudes.size() <= L_HAT_MAX, "harmonic count is at most L_HAT_MAX");
    const std::size_t count = amplitudes.size();

    // Log envelope B_l, padded with the taps' reach on both sides.  Harmonics outside 1..L read
    // as 0 (log2 of 1), so the band edges act as envelope steps; the lower padding also stands
    // for the taps below harmonic 1.  LANES - 1 more at the top for the last group of harmonics.
    constexpr std::size_t PAD = KERNEL_TAPS - 1;
    constexpr std::size_t LANES = 4;
    std::array<double, PAD + L_HAT_MAX + 1 + PAD + LANES - 1> log_env{};
    // Four harmonics at a time (within 3e-16 of std::log2; the amplitudes are floats, so above
    // 1e-10 they are normal doubles).
    std::array<double, L_HAT_MAX + LANES - 1> m{};
    std::copy(amplitudes.begin(), amplitudes.end(), m.begin());
    for (std::size_t l = 1; l <= count; l += LANES) {
        const Quad group = quad_at(&m[l - 1]);
        Quad logs;
        common::log2_normal(group, logs);
        constexpr Quad FLOOR{LOG2_AMPLITUDE_FLOOR, LOG2_AMPLITUDE_FLOOR, LOG2_AMPLITUDE_FLOOR, LOG2_AMPLITUDE_FLOOR};
        quad_at(&log_env[PAD + l]) = group > 1e-10 ? logs : FLOOR;
    }
    // The last group's lanes past L wrote the floor; they read as 0 like every harmonic outside.
    for (std::size_t l = count + 1; l < count + LANES; ++l) log_env[PAD + l] = 0.0;

    // Four harmonics at a time, one per lane, each summing its taps in order.
    std::array<double, L_HAT_MAX + LANES> offsets{};
    for (std::size_t l = 1; l <= count; l += LANES) {
        Quad r{};
        for (std::size_t j = 1; j < KERNEL_TAPS; ++j) {
            r += KERNEL[j] * (quad_at(&log_env[PAD + l + j]) - quad_at(&log_env[PAD + l - j]));
        }
        quad_at(&offsets[l]) = r;
    }
    phases.fill(0.0);
    std::copy(offsets.begin() + 1, offsets.begin() + 1 + static_cast<std::ptrdiff_t>(count), phases.begin() + 1);
}

}  // namespace ostrel_mbe::codecs::mbe_baseline::phase_regen
