// SPDX-License-Identifier: GPL-2.0-or-later
#include "codecs/mbe_baseline/voiced.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "codecs/mbe_baseline/phase_regen.h"
#include "codecs/mbe_baseline/synthesis_window.h"
#include "common/check.h"

namespace ostrel_mbe::codecs::mbe_baseline {
namespace {

constexpr int FRAME = 160;
constexpr double FRAME_D = 160.0;
constexpr double PI = std::numbers::pi;

// Adds 2 * amplitude * window(n) * cos(phase0 + step * n) for n = 0..159, evaluated with a
// rotating phasor.
void add_windowed_sinusoid(std::array<double, 160>& out, double amplitude, double phase0, double step,
                           bool current_frame) {
    double c = std::cos(phase0);
    double s = std::sin(phase0);
    const double cr = std::cos(step);
    const double sr = std::sin(step);
    for (int n = 0; n < FRAME; ++n) {
        const double w = current_frame ? synthesis_window(n - FRAME) : synthesis_window(n);
        out[static_cast<std::size_t>(n)] += 2.0 * amplitude * w * c;
        const double next_c = c * cr - s * sr;
        s = s * cr + c * sr;
        c = next_c;
    }
}

}  // namespace

std::array<double, 160> synthesize_voiced_with_lcg_modulus(std::span<const float> amplitudes,
                                                           std::span<const bool> voiced,
                                                           std::span<const double, L_HAT_MAX> noise,
                                                           bool ambe_plus, std::uint32_t modulus,
                                                           VoicedState& state, float omega0) {
    OSTREL_CHECK(amplitudes.size() <= L_HAT_MAX, "harmonic count is at most L_HAT_MAX");
    OSTREL_CHECK(voiced.size() == amplitudes.size(), "voicing and amplitude slices have equal length");
    OSTREL_CHECK(state.harmonic_count <= L_HAT_MAX, "previous harmonic count is at most L_HAT_MAX");
    const std::size_t count = amplitudes.size();
    const std::size_t prev_count = state.harmonic_count;
    const double w0 = omega0;
    const double w0_prev = state.omega0;

    std::array<double, L_HAT_MAX + 1> track{};
    for (std::size_t l = 1; l <= L_HAT_MAX; ++l) {
        track[l] = state.phase_track[l] + (w0_prev + w0) * static_cast<double>(l) * FRAME_D * 0.5;
    }

    // The lowest quarter of the harmonics follows the phase track; the others get an offset that
    // hides the track's buzziness: regenerated from the envelope, or random in proportion to the
    // share of unvoiced bands.
    std::array<double, L_HAT_MAX + 1> phase = track;
    const std::size_t tracked = count / 4;
    if (ambe_plus) {
        std::array<double, L_HAT_MAX + 1> offsets{};
        phase_regen::ambe_phase_regen(amplitudes, offsets);
        for (std::size_t l = tracked + 1; l <= L_HAT_MAX; ++l) phase[l] += offsets[l];
    } else {
        const double unvoiced_count = static_cast<double>(std::count(voiced.begin(), voiced.end(), false));
        const double unvoiced_share = unvoiced_count / static_cast<double>(count == 0 ? 1 : count);
        const double modulus_d = modulus == 0 ? 4294967296.0 : static_cast<double>(modulus);
        for (std::size_t l = tracked + 1; l <= L_HAT_MAX; ++l) {
            const double h = static_cast<double>(l);
            phase[l] += h * unvoiced_share * ((2.0 * PI / modulus_d) * noise[l - 1] - PI);
        }
    }

    std::array<double, 160> out{};
    const std::size_t top = std::max(prev_count, count);
    for (std::size_t l = 1; l <= top; ++l) {
        const double h = static_cast<double>(l);
        const bool cur_voiced = l <= count && voiced[l - 1];
        const bool prev_voiced = l <= prev_count && state.voiced[l] != 0;
        const double m = l <= count ? static_cast<double>(amplitudes[l - 1]) : 0.0;
        const double m_prev = state.amplitude[l];

        if (prev_voiced && !cur_voiced) {
            add_windowed_sinusoid(out, m_prev, state.phase[l], w0_prev * h, false);
        } else if (cur_voiced && !prev_voiced) {
            add_windowed_sinusoid(out, m, w0 * h * -FRAME_D + phase[l], w0 * h, true);
        } else if (cur_voiced && prev_voiced) {
            const bool steady = !(std::abs(w0) > 1e-30 && std::abs((w0 - w0_prev) * h / w0) >= 0.1);
            if (l <= 7 && steady) {
                // Cubic phase interpolation across the frame boundary with linear amplitude.
                const double dphi = phase[l] - state.phase[l] - (w0_prev + w0) * h * FRAME_D * 0.5;
                const double wrapped = dphi - 2.0 * PI * std::floor((dphi + PI) / (2.0 * PI));
                const double dw = wrapped / FRAME_D;
                for (int n = 0; n < FRAME; ++n) {
                    const double nd = static_cast<double>(n);
                    const double theta =
                        state.phase[l] + (w0_prev * h + dw) * nd + (w0 - w0_prev) * h * nd * nd / 320.0;
                    const double envelope = m_prev + (nd / FRAME_D) * (m - m_prev);
                    out[static_cast<std::size_t>(n)] += 2.0 * envelope * std::cos(theta);
                }
            } else {
                add_windowed_sinusoid(out, m_prev, state.phase[l], w0_prev * h, false);
                add_windowed_sinusoid(out, m, w0 * h * -FRAME_D + phase[l], w0 * h, true);
            }
        }
    }

    for (std::size_t l = 1; l <= L_HAT_MAX; ++l) {
        state.phase[l] = phase[l];
        state.phase_track[l] = track[l];
        state.amplitude[l] = l <= count ? static_cast<double>(amplitudes[l - 1]) : 0.0;
        state.voiced[l] = l <= count && voiced[l - 1] ? 1 : 0;
    }
    state.harmonic_count = static_cast<std::uint8_t>(count);
    state.omega0 = w0;
    return out;
}

}  // namespace ostrel_mbe::codecs::mbe_baseline
