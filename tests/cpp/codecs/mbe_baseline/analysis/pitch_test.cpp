// SPDX-License-Identifier: GPL-2.0-or-later
#include "codecs/mbe_baseline/analysis/pitch.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "codecs/mbe_baseline/analysis/pitch_tables.h"
#include "test_signals.h"

namespace ostrel_mbe::codecs::mbe_baseline::analysis::pitch {
namespace {

namespace ts = test_signals;

struct Searches {
    PitchSearch current, next, after_next;
};

Searches searches_of(const std::array<double, 480>& history) {
    const auto lpf = compute_s_lpf_shared(history);
    Searches s{PitchSearch::for_frame(lpf, 0), PitchSearch::for_frame(lpf, 1), PitchSearch::for_frame(lpf, 2)};
    s.next.enable_argmin_fast();
    s.after_next.enable_argmin_fast();
    return s;
}

TEST(PitchSearch, AllZeroHistoryPicksLookBackPeriod80) {
    const Searches s = searches_of({});
    for (double e : s.current.error) EXPECT_EQ(e, 1.0);
    const PeriodError back = look_back(s.current, 100.0, 0.0, 0.0);
    EXPECT_EQ(back.period, 80.0);
    EXPECT_EQ(back.error, 1.0);
    const PeriodError ahead = look_ahead(s.current, s.next, s.after_next);
    EXPECT_EQ(ahead.period, 21.0);  // equal errors keep the shortest period
    EXPECT_EQ(ahead.error, 3.0);
    EXPECT_EQ(decide_period(back, ahead), 80.0);
}

TEST(PitchSearch, EmptyRangeReturnsLowerBoundOnGrid) {
    const Searches s = searches_of({});
    EXPECT_EQ(s.current.argmin_in_range(10.0, 20.0).period, 21.0);
    EXPECT_EQ(s.current.argmin_in_range(30.1, 30.4).period, 30.5);
    EXPECT_EQ(s.current.argmin_in_range(30.1, 30.4).error, 1.0);
    EXPECT_EQ(s.current.argmin_in_range(130.0, 150.0).period, 130.0);
}

TEST(PitchSearch, RangeMinimumTableAgreesWithScanOnEveryRange) {
    const std::uint32_t seed = 7;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> level(0, 9);  // few distinct values: many ties
    PitchSearch scan;
    for (double& e : scan.error) e = 0.1 * level(rng);
    PitchSearch fast = scan;
    fast.enable_argmin_fast();
    for (std::size_t c = 0; c < GRID_SIZE; ++c) {
        for (std::size_t e = c; e < GRID_SIZE; ++e) {
            const double lo = grid_period(c) - 0.2;
            const double hi = grid_period(e) + 0.2;
            const PeriodError a = scan.argmin_in_range(lo, hi);
            const PeriodError b = fast.argmin_in_range(lo, hi);
            ASSERT_EQ(a.period, b.period) << c << ".." << e;
            ASSERT_EQ(a.error, b.error);
        }
    }
}

TEST(PitchSearch, ThreeFramesTogetherEqualOneByOne) {
    std::mt19937 rng(3);
    std::normal_distribution<double> x(0.0, 1000.0);
    std::array<double, 480> history{};
    for (double& v : history) v = x(rng);
    const auto lpf = compute_s_lpf_shared(history);
    const auto together = PitchSearch::for_frames(lpf);
    for (std::size_t f = 0; f < 3; ++f) {
        const PitchSearch alone = PitchSearch::for_frame(lpf, f);
        EXPECT_EQ(together[f].energy, alone.energy);
        EXPECT_EQ(together[f].autocorrelation, alone.autocorrelation);
        EXPECT_EQ(together[f].error, alone.error);
    }
}

// The look-ahead's minima over the next frame's ranges keep the shorter of equally good periods,
// as a scan does: there errors of few distinct values (many ties), whose chosen period then
// decides the frame after's range; all high enough that no sub-multiple is taken.
TEST(PitchSearch, LookAheadAgreesWithScanOnTiedErrors) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> level(0, 3);
    std::uniform_real_distribution<double> spread(0.3, 0.8);
    for (int n = 0; n < 40; ++n) {
        PitchSearch current, next, after_next;
        for (double& e : current.error) e = 0.9 + 0.1 * level(rng);
        for (double& e : next.error) e = 0.3 + 0.1 * level(rng);
        for (double& e : after_next.error) e = spread(rng);
        std::size_t best = 0;
        double best_error = 1e300;
        for (std::size_t k = 0; k < GRID_SIZE; ++k) {
            const double p = grid_period(k);
            const PeriodError e1 = next.argmin_in_range(0.8 * p, 1.2 * p);
            const PeriodError e2 = after_next.argmin_in_range(0.8 * e1.period, 1.2 * e1.period);
            const double ce = current.error[k] + e1.error + e2.error;
            if (ce < best_error) best = k, best_error = ce;
        }
        const PeriodError ahead = look_ahead(current, next, after_next);
        ASSERT_EQ(ahead.period, grid_period(best)) << n;
        ASSERT_EQ(ahead.error, best_error);
    }
}

TEST(PitchSearch, AutocorrelationAndEnergyEqualDirectSums) {
    const std::uint32_t seed = 99;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> dist(-500.0, 500.0);
    std::array<double, WINDOW_LENGTH> s{};
    for (double& v : s) v = dist(rng);
    const PitchSearch search = PitchSearch::from_lpf(s);

    std::array<double, WINDOW_LENGTH> x{};
    double energy = 0.0;
    for (std::size_t i = 0; i < WINDOW_LENGTH; ++i) {
        const double w = static_cast<float>(tables::PITCH_WINDOW_WI[i]);
        x[i] = s[i] * w * w;
        energy += s[i] * s[i] * w * w;
    }
    EXPECT_NEAR(search.energy, energy, 1e-9 * energy);
    for (std::size_t t = 0; t < LAG_COUNT; ++t) {
        double r = 0.0;
        for (std::size_t i = 0; i + t < WINDOW_LENGTH; ++i) r += x[i] * x[i + t];
        EXPECT_NEAR(search.autocorrelation[t], r, 1e-9 * search.autocorrelation[0]) << "lag " << t;
    }
    // The error function does not depend on the signal level.
    std::array<double, WINDOW_LENGTH> doubled{};
    for (std::size_t i = 0; i < s.size(); ++i) doubled[i] = 2.0 * s[i];
    const PitchSearch twice = PitchSearch::from_lpf(doubled);
    for (std::size_t k = 0; k < GRID_SIZE; ++k) EXPECT_NEAR(twice.error[k], search.error[k], 1e-9);
}

// Harmonic sums of a known period: the look-ahead search lands on the grid point nearest the
// period (the error function dips at every multiple, the search must take the fundamental).
class PeriodicSignal : public ::testing::TestWithParam<double> {};

TEST_P(PeriodicSignal, LookAheadFindsThePeriod) {
    const double period = GetParam();
    const auto history = ts::history_from([&](long n) {
        return ts::harmonic_sample(period, n, [](int) { return 1000.0; });
    });
    const Searches s = searches_of(history);
    const PeriodError ahead = look_ahead(s.current, s.next, s.after_next);
    EXPECT_LE(std::fabs(ahead.period - period), 0.5);
    EXPECT_LT(ahead.error, 0.5);
    EXPECT_LT(s.current.error_at(ahead.period), 0.3);
}

INSTANTIATE_TEST_SUITE_P(Periods, PeriodicSignal, ::testing::Values(23.0, 30.0, 40.0, 57.3, 65.0, 80.0, 100.6, 119.7));

TEST(PitchSearch, SubMultipleCheckHalvesADoubledPeriod) {
    // Every second period of a 30-sample waveform is quieter, so the exact period is 60 and the
    // plain cumulative-error minimum lands there; 30 explains the frames nearly as well and wins.
    const auto history = ts::history_from([](long n) {
        const double v = ts::harmonic_sample(30.0, n, [](int) { return 1000.0; });
        return ((n / 30) % 2 != 0 ? 0.7 : 1.0) * v;
    });
    const Searches s = searches_of(history);
    std::size_t raw_best = 0;
    double raw_error = 1e300;
    for (std::size_t k = 0; k < GRID_SIZE; ++k) {
        const double p = grid_period(k);
        const PeriodError e1 = s.next.argmin_in_range(0.8 * p, 1.2 * p);
        const PeriodError e2 = s.after_next.argmin_in_range(0.8 * e1.period, 1.2 * e1.period);
        const double ce = s.current.error[k] + e1.error + e2.error;
        if (ce < raw_error) {
            raw_error = ce;
            raw_best = k;
        }
    }
    ASSERT_EQ(grid_period(raw_best), 60.0);
    const PeriodError ahead = look_ahead(s.current, s.next, s.after_next);
    EXPECT_EQ(ahead.period, 30.0);
    EXPECT_GT(ahead.error, raw_error);
}

TEST(PitchSearch, DecisionPrefersLookBackUpToThreshold) {
    EXPECT_EQ(decide_period({50.0, 0.48}, {30.0, 0.1}), 50.0);
    EXPECT_EQ(decide_period({50.0, 0.49}, {30.0, 0.1}), 30.0);
    EXPECT_EQ(decide_period({50.0, 0.9}, {30.0, 0.9}), 50.0);
}

}  // namespace
}  // namespace ostrel_mbe::codecs::mbe_baseline::analysis::pitch
