// SPDX-License-Identifier: GPL-2.0-or-later
#include "rate_conversion/predictor.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <span>

#include "common/check.h"

namespace ostrel_mbe::rate_conversion::predictor {
namespace {

constexpr double AMPLITUDE_FLOOR = 1e-10;
constexpr double FLOOR_LOG2 = -33.219280948873624;  // log2(1e-10)
// Fundamentals within this relative distance of the previous output's keep their amplitudes.
constexpr double SAME_PITCH_TOLERANCE = 0.01;
constexpr float FLOAT_MAX = std::numeric_limits<float>::max();

// Damaged frames can decode to amplitudes near the top of the float range; the prediction and
// the mix saturate there instead of overflowing to infinity, which no MbeParams may hold.
float to_float(double x) { return static_cast<float>(std::min(x, static_cast<double>(FLOAT_MAX))); }

}  // namespace

MbeParams blend(const MbeParams& params, std::uint8_t new_l, BlendState& state, float new_omega0, EnvelopeMix mix) {
    OSTREL_CHECK(new_l >= L_MIN && new_l <= L_HAT_MAX, "blend target has 9..56 harmonics");

    std::array<float, L_HAT_MAX> amplitudes{};
    std::array<bool, L_HAT_MAX> voiced{};
    const std::size_t kept = std::min<std::size_t>(new_l, params.harmonic_count());
    std::copy_n(params.amplitudes().begin(), kept, amplitudes.begin());
    std::copy_n(params.voiced().begin(), kept, voiced.begin());
    // Harmonics added on top (the half-rate grid covers a little more bandwidth for the same
    // fundamental) continue the spectrum at its top amplitude, unvoiced.  A zero there would
    // enter the destination's log2-domain quantizer as a huge negative value and pull the whole
    // frame's gain down by tens of dB.
    std::fill(amplitudes.begin() + static_cast<std::ptrdiff_t>(kept), amplitudes.begin() + new_l,
              params.amplitudes()[kept - 1]);

    const double ratio = static_cast<double>(new_omega0) / std::max(static_cast<double>(state.previous_omega0), 1e-20);
    if (mix == EnvelopeMix::Previous && std::abs(ratio - 1.0) > SAME_PITCH_TOLERANCE) {
        const std::size_t lp = state.previous_l;
        std::array<double, L_HAT_MAX + 1> log2_previous{};
        for (std::size_t i = 1; i <= lp; ++i) {
            log2_previous[i] = std::log2(std::max(static_cast<double>(state.previous_amplitudes[i]), AMPLITUDE_FLOOR));
        }
        const double half_log2_ratio = 0.5 * std::log2(ratio);
        for (std::size_t g = 1; g <= new_l; ++g) {
            // Harmonic g of the new grid sits at harmonic ratio * g of the previous frame.
            const double h = ratio * static_cast<double>(g);
            double envelope = FLOOR_LOG2;
            if (h >= 1.0 && h <= static_cast<double>(lp)) {
                const double k = std::floor(h);
                const auto ki = static_cast<std::size_t>(k);
                const std::size_t next = std::min(lp, ki + 1);
                envelope = log2_previous[ki] + (h - k) * (log2_previous[next] - log2_previous[ki]);
            }
            const float predicted = to_float(std::exp2(half_log2_ratio + envelope));
            amplitudes[g - 1] = std::min(PREDICTED_WEIGHT * predicted + OWN_WEIGHT * amplitudes[g - 1], FLOAT_MAX);
        }
    }

    auto result = MbeParams::create(new_omega0, std::span<const bool>(voiced.data(), new_l),
                                    std::span<const float>(amplitudes.data(), new_l));
    OSTREL_CHECK(result.has_value(), "blend result has valid MbeParams constraints");

    state.previous_amplitudes.fill(0.0f);
    state.previous_amplitudes[0] = 1.0f;
    std::copy_n(amplitudes.begin(), new_l, state.previous_amplitudes.begin() + 1);
    state.previous_l = new_l;
    state.previous_omega0 = new_omega0;
    return *result;
}

}  // namespace ostrel_mbe::rate_conversion::predictor
