// SPDX-License-Identifier: GPL-2.0-or-later
#include "codecs/mbe_baseline/analysis/refine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "test_signals.h"

namespace ostrel_mbe::codecs::mbe_baseline::analysis::refine {
namespace {

namespace ts = test_signals;

TEST(RefinePitch, EqualErrorsPickTheNearestShorterOffset) {
    const basis::Spectrum silent{};
    for (double p : {21.0, 50.5, 80.0, 122.0}) {
        const RefinedPitch r = refine_pitch(silent, basis::window_transform(), p);
        EXPECT_EQ(r.omega0, 2.0 * std::numbers::pi / (p - 0.125));
        EXPECT_EQ(r.error, 0.0);
    }
}

TEST(RefinePitch, HarmonicCountStaysInRangeForEveryPeriod) {
    for (double p = 21.0 - 1.125; p <= 122.0 + 1.125; p += 0.125) {
        const std::uint8_t l = harmonic_count_for(2.0 * std::numbers::pi / p);
        EXPECT_GE(l, 9);
        EXPECT_LE(l, 56);
    }
    EXPECT_EQ(harmonic_count_for(std::nan("")), 9);
}

class RefineSignal : public ::testing::TestWithParam<double> {};

// Starting from the half-sample grid point nearest the true period, the fit lands within a
// quarter sample of it.
TEST_P(RefineSignal, FindsPeriodWithinAQuarterSample) {
    const double period = GetParam();
    const auto history = ts::history_from([&](long n) {
        return ts::harmonic_sample(period, n, [](int l) { return 1000.0 / std::sqrt(static_cast<double>(l)); });
    });
    const basis::Spectrum spectrum = basis::windowed_spectrum(history);
    const double start = std::round(2.0 * period) / 2.0;
    const RefinedPitch r = refine_pitch(spectrum, basis::window_transform(), start);
    EXPECT_LE(std::fabs(2.0 * std::numbers::pi / r.omega0 - period), 0.25) << "from " << start;
    EXPECT_EQ(r.harmonic_count, harmonic_count_for(r.omega0));
}

INSTANTIATE_TEST_SUITE_P(Periods, RefineSignal, ::testing::Values(25.3, 40.0, 48.8, 66.6, 80.1, 97.4, 110.0, 121.2));

}  // namespace
}  // namespace ostrel_mbe::codecs::mbe_baseline::analysis::refine
