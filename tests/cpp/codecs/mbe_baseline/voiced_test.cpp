// SPDX-License-Identifier: GPL-2.0-or-later
#include "codecs/mbe_baseline/voiced.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "codecs/mbe_baseline/phase_regen.h"
#include "codecs/mbe_baseline/unvoiced.h"

namespace ostrel_mbe::codecs::mbe_baseline {
namespace {

constexpr double PI = std::numbers::pi;

struct Frame {
    std::vector<float> amps;
    std::array<bool, L_HAT_MAX> voiced{};
    float omega0;
    std::span<const bool> flags() const { return {voiced.data(), amps.size()}; }
};

// A frame with only harmonic `h` voiced, amplitude `m`; the others unvoiced and silent.
Frame single_harmonic(std::size_t count, std::size_t h, float m, float omega0) {
    Frame f{std::vector<float>(count, 0.0f), {}, omega0};
    f.amps[h - 1] = m;
    f.voiced[h - 1] = true;
    return f;
}

std::array<double, L_HAT_MAX> noise_of(double value) {
    std::array<double, L_HAT_MAX> n;
    n.fill(value);
    return n;
}

std::array<double, 160> run(const Frame& f, VoicedState& s, bool ambe_plus = false,
                            const std::array<double, L_HAT_MAX>& noise = noise_of(1000.0)) {
    return synthesize_voiced_with_lcg_modulus(f.amps, f.flags(), noise, ambe_plus, LCG_DEFAULT.modulus, s, f.omega0);
}

// Least-squares fit of a cos(w n) + b sin(w n) over x; returns the fitted amplitude and the worst
// residual.
std::pair<double, double> fit_sinusoid(const std::vector<double>& x, double w) {
    double cc = 0, ss = 0, cs = 0, xc = 0, xs = 0;
    for (std::size_t n = 0; n < x.size(); ++n) {
        const double c = std::cos(w * static_cast<double>(n));
        const double s = std::sin(w * static_cast<double>(n));
        cc += c * c, ss += s * s, cs += c * s, xc += x[n] * c, xs += x[n] * s;
    }
    const double det = cc * ss - cs * cs;
    const double a = (xc * ss - xs * cs) / det;
    const double b = (xs * cc - xc * cs) / det;
    double worst = 0;
    for (std::size_t n = 0; n < x.size(); ++n) {
        const double fit = a * std::cos(w * static_cast<double>(n)) + b * std::sin(w * static_cast<double>(n));
        worst = std::max(worst, std::abs(x[n] - fit));
    }
    return {std::hypot(a, b), worst};
}

std::size_t zero_crossings(std::span<const double> x) {
    std::size_t count = 0;
    for (std::size_t n = 1; n < x.size(); ++n) count += (x[n - 1] < 0) != (x[n] < 0);
    return count;
}

struct HarmonicCase {
    std::size_t count;
    std::size_t harmonic;
    bool ambe_plus;
};

class VoicedHarmonic : public ::testing::TestWithParam<HarmonicCase> {};

TEST_P(VoicedHarmonic, SteadyHarmonicIsOneContinuousSinusoidAfterTheOnset) {
    // 20 periods of l * omega0 in 160 samples: 1000 Hz.
    const HarmonicCase c = GetParam();
    const double w = 2.0 * PI * 1000.0 / 8000.0;
    const float omega0 = static_cast<float>(w / static_cast<double>(c.harmonic));
    const Frame f = single_harmonic(c.count, c.harmonic, 700.0f, omega0);
    const double exact_w = static_cast<double>(omega0) * static_cast<double>(c.harmonic);
    VoicedState s;
    const auto onset = run(f, s, c.ambe_plus);
    for (std::size_t n = 0; n <= 55; ++n) ASSERT_EQ(onset[n], 0.0) << "onset rises under the window, n " << n;
    std::vector<double> steady;
    for (int frame = 0; frame < 3; ++frame) {
        const auto out = run(f, s, c.ambe_plus);
        EXPECT_NEAR(static_cast<double>(zero_crossings(out)), 40.0, 1.0);
        steady.insert(steady.end(), out.begin(), out.end());
    }
    const auto [amplitude, residual] = fit_sinusoid(steady, exact_w);
    EXPECT_NEAR(amplitude, 1400.0, 1e-3);
    EXPECT_LT(residual, 1e-3);
}

INSTANTIATE_TEST_SUITE_P(Paths, VoicedHarmonic,
                         ::testing::Values(HarmonicCase{12, 3, false},   // interpolated, phase-tracked
                                           HarmonicCase{40, 8, false},   // cross-faded (l > 7), tracked
                                           HarmonicCase{12, 3, true},
                                           HarmonicCase{32, 8, true}));

TEST(VoicedSynthesis, PitchAndAmplitudeGlideStaysContinuous) {
    // Harmonic 2 with omega0 rising 3 % per frame (interpolated, l <= 7) and the amplitude
    // ramping.  A sinusoid of frequency w satisfies x[n+1] + x[n-1] = 2 cos(w) x[n]; the glide
    // bends that only slightly, while any phase jump at a frame boundary would break it.
    VoicedState s;
    std::vector<double> signal;
    std::vector<double> local_w;
    float omega0 = 0.15f;
    float m = 400.0f;
    for (int frame = 0; frame < 8; ++frame) {
        const Frame f = single_harmonic(12, 2, m, omega0);
        const double w_prev = 2.0 * s.omega0;
        const auto out = run(f, s);
        if (frame >= 1) {
            signal.insert(signal.end(), out.begin(), out.end());
            for (std::size_t n = 0; n < 160; ++n) {
                const double w_cur = 2.0 * static_cast<double>(omega0);
                local_w.push_back(w_prev + (w_cur - w_prev) * static_cast<double>(n) / 160.0);
            }
        }
        omega0 *= 1.03f;
        m *= 1.1f;
    }
    double worst = 0.0;
    for (std::size_t n = 1; n + 1 < signal.size(); ++n) {
        const double residual = signal[n + 1] + signal[n - 1] - 2.0 * std::cos(local_w[n]) * signal[n];
        worst = std::max(worst, std::abs(residual));
    }
    EXPECT_LT(worst, 0.01 * 2.0 * static_cast<double>(m));
    // Zero crossings of the last frame match the mean frequency of its glide.
    const std::span<const double> last(signal.data() + signal.size() - 160, 160);
    const double w_last = static_cast<double>(omega0 / 1.03f);
    const double w_mean = 2.0 * 0.5 * (w_last + static_cast<double>(omega0 / 1.03f / 1.03f));
    EXPECT_NEAR(static_cast<double>(zero_crossings(last)), 160.0 * w_mean / PI, 1.5);
}

TEST(VoicedSynthesis, AmplitudeStepInterpolatesLowHarmonicsAndCrossFadesHighOnes) {
    // Amplitude 100 -> 1000 at a steady fundamental.  Harmonics up to 7 ramp linearly over the
    // whole frame; higher ones hold the old amplitude while the window is flat (n <= 55).
    for (std::size_t h : {3u, 7u, 8u, 12u}) {
        VoicedState s;
        const float omega0 = 0.06f;
        run(single_harmonic(48, h, 100.0f, omega0), s);
        run(single_harmonic(48, h, 100.0f, omega0), s);
        const auto out = run(single_harmonic(48, h, 1000.0f, omega0), s);
        double head = 0.0;
        for (std::size_t n = 0; n <= 55; ++n) head = std::max(head, std::abs(out[n]));
        if (h <= 7) {
            EXPECT_GT(head, 300.0) << h;
        } else {
            EXPECT_LE(head, 200.0 + 1e-6) << h;
        }
    }
}

double worst_recurrence_residual(std::span<const double> x, double w) {
    double worst = 0.0;
    for (std::size_t n = 1; n + 1 < x.size(); ++n) {
        worst = std::max(worst, std::abs(x[n + 1] + x[n - 1] - 2.0 * std::cos(w) * x[n]));
    }
    return worst;
}

TEST(VoicedSynthesis, LargeRelativePitchJumpCrossFadesInsteadOfInterpolating) {
    // Harmonic 2: a 6 % jump of omega0 is a relative change of 0.12 after multiplying by l, so the
    // old sinusoid continues unchanged while the window is flat; a 4 % jump (0.08) interpolates
    // and bends the frequency from the first sample.
    for (const float factor : {1.06f, 1.04f}) {
        VoicedState s;
        run(single_harmonic(12, 2, 500.0f, 0.1f), s);
        run(single_harmonic(12, 2, 500.0f, 0.1f), s);
        const auto out = run(single_harmonic(12, 2, 500.0f, 0.1f * factor), s);
        const double residual =
            worst_recurrence_residual(std::span<const double>(out.data(), 55), 2.0 * static_cast<double>(0.1f));
        if (factor > 1.05f) {
            EXPECT_LT(residual, 1e-6);
        } else {
            EXPECT_GT(residual, 0.1);
        }
    }
}

TEST(VoicedSynthesis, InterpolatedPhaseOffsetIsWrappedToHalfACycle) {
    // Harmonic 5 of 12 (above L/4, so it carries a random offset) with 11 unvoiced bands: noise
    // 0 then 0.9 m moves the offset by 5 (11/12) 1.8 pi = 8.25 pi, which the interpolation must
    // take as 0.25 pi.  The frequency then stays within pi/160 of 5 omega0.
    VoicedState s;
    const Frame f = single_harmonic(12, 5, 500.0f, 0.1f);
    run(f, s, false, noise_of(0.0));
    const auto out = run(f, s, false, noise_of(0.9 * 65536.0));
    const double w = 5.0 * static_cast<double>(0.1f) + 0.25 * PI / 160.0;
    const auto [amplitude, residual] = fit_sinusoid(std::vector<double>(out.begin(), out.end()), w);
    EXPECT_NEAR(amplitude, 1000.0, 1e-6);
    EXPECT_LT(residual, 1e-6);
}

TEST(VoicedSynthesis, OffsetDecaysUnderTheWindow) {
    VoicedState s;
    const Frame on = single_harmonic(20, 2, 500.0f, 0.2f);
    run(on, s);
    run(on, s);
    Frame off = on;
    off.voiced[1] = false;
    const auto out = run(off, s);
    double early = 0;
    for (std::size_t n = 0; n < 50; ++n) early = std::max(early, std::abs(out[n]));
    EXPECT_GT(early, 900.0);
    for (std::size_t n = 105; n < 160; ++n) ASSERT_EQ(out[n], 0.0);
    // Nothing voiced on either side: silence.
    const auto quiet = run(off, s);
    for (double v : quiet) ASSERT_EQ(v, 0.0);
}

TEST(VoicedSynthesis, HarmonicsBeyondTheNewCountEndAsOffsets) {
    VoicedState s;
    const Frame wide = single_harmonic(40, 35, 300.0f, 0.08f);
    run(wide, s);
    const Frame narrow = single_harmonic(12, 2, 0.0f, 0.08f);
    const auto out = run(narrow, s);
    EXPECT_GT(std::abs(out[0]) + std::abs(out[1]) + std::abs(out[2]), 0.0);
    for (std::size_t n = 105; n < 160; ++n) ASSERT_EQ(out[n], 0.0);
    EXPECT_EQ(s.harmonic_count, 12);
    for (std::size_t l = 13; l <= L_HAT_MAX; ++l) {
        EXPECT_EQ(s.amplitude[l], 0.0);
        EXPECT_EQ(s.voiced[l], 0);
    }
}

TEST(VoicedSynthesis, UpperHarmonicPhases) {
    // All voiced: no unvoiced share, so the random offsets vanish and every phase is the track.
    Frame all{std::vector<float>(24, 100.0f), {}, 0.12f};
    for (std::size_t l = 0; l < 24; ++l) all.voiced[l] = true;
    VoicedState s;
    run(all, s, false, noise_of(12345.0));
    for (std::size_t l = 1; l <= L_HAT_MAX; ++l) ASSERT_EQ(s.phase[l], s.phase_track[l]) << l;

    // All unvoiced: harmonics above L/4 get l * ((2 pi / m) u(l) - pi); the tracked ones none.
    Frame none{std::vector<float>(24, 100.0f), {}, 0.12f};
    std::array<double, L_HAT_MAX> noise{};
    for (std::size_t i = 0; i < L_HAT_MAX; ++i) noise[i] = static_cast<double>(i * 997 % 65536);
    VoicedState u;
    run(none, u, false, noise);
    for (std::size_t l = 1; l <= L_HAT_MAX; ++l) {
        const double offset = l <= 6 ? 0.0 : static_cast<double>(l) * ((2.0 * PI / 65536.0) * noise[l - 1] - PI);
        ASSERT_NEAR(u.phase[l] - u.phase_track[l], offset, 1e-9) << l;
    }

    // Half-rate mode: the offset is the regenerated phase, zero beyond L.
    VoicedState r;
    std::vector<float> shaped(24);
    for (std::size_t l = 0; l < 24; ++l) shaped[l] = static_cast<float>(50 + 40 * (l % 5));
    const Frame env{shaped, {}, 0.12f};
    run(env, r, true);
    std::array<double, L_HAT_MAX + 1> regen{};
    phase_regen::ambe_phase_regen(shaped, regen);
    for (std::size_t l = 1; l <= L_HAT_MAX; ++l) {
        const double offset = l <= 6 ? 0.0 : regen[l];
        ASSERT_NEAR(r.phase[l] - r.phase_track[l], offset, 1e-9) << l;
    }
}

TEST(VoicedSynthesis, PhasesStayBoundedOverLongRuns) {
    // Unwrapped, the track of harmonic 56 at omega0 near 0.055 would grow by about 500 rad a
    // frame and pass 10^6 rad within this run; kept in [-pi, pi), with offsets of at most 56 pi.
    for (const bool ambe_plus : {false, true}) {
        VoicedState s;
        for (int frame = 0; frame < 3000; ++frame) {
            Frame f{std::vector<float>(56, 100.0f + static_cast<float>(frame % 7)), {}, frame % 2 ? 0.055f : 0.056f};
            for (std::size_t l = 0; l < 56; ++l) f.voiced[l] = (l + static_cast<std::size_t>(frame)) % 5 != 0;
            const auto out = run(f, s, ambe_plus, noise_of(static_cast<double>(frame * 37 % 65536)));
            for (double v : out) ASSERT_TRUE(std::isfinite(v));
            for (std::size_t l = 1; l <= L_HAT_MAX; ++l) {
                ASSERT_GE(s.phase_track[l], -PI) << "frame " << frame << " harmonic " << l;
                ASSERT_LT(s.phase_track[l], PI) << "frame " << frame << " harmonic " << l;
                ASSERT_LE(std::abs(s.phase[l]), 57.0 * PI) << "frame " << frame << " harmonic " << l;
            }
        }
    }
}

}  // namespace
}  // namespace ostrel_mbe::codecs::mbe_baseline
