// SPDX-License-Identifier: GPL-2.0-or-later
// Initial pitch estimation: a time-domain error E(P) over candidate periods 21..122 samples on a
// half-sample grid, from the autocorrelation of the low-pass-filtered, wI-windowed history, plus
// look-back and look-ahead tracking.  Periods in samples at 8000 samples/s; filter hLPF and window
// wI from TIA-102.BABA (Annexes D and B), held as 32-bit values.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace ostrel_mbe::codecs::mbe_baseline::analysis::pitch {

inline constexpr std::size_t GRID_SIZE = 203;       // P_k = 21 + k/2, k = 0..202
inline constexpr std::size_t LAG_COUNT = 151;       // r(t), t = 0..150
inline constexpr std::size_t LPF_LENGTH = 621;      // filtered history positions -70..550
inline constexpr std::size_t WINDOW_LENGTH = 301;   // n = -150..150
inline constexpr std::size_t RANGE_MIN_LEVELS = 8;  // 2^7 >= 203

inline constexpr double grid_period(std::size_t k) { return 21.0 + static_cast<double>(k) / 2.0; }

// y[j] = sum_{n=-10}^{10} hLPF(n) x[j - 70 - n]; the history reads as 0 outside 0..479.
std::array<double, LPF_LENGTH> compute_s_lpf_shared(std::span<const double, 480> history);

struct PeriodError {
    double period;
    double error;
};

struct RangeMinEntry {
    double value;
    std::uint16_t index;

    // Left uninitialised on purpose: a table is filled completely when built, and zero-filling
    // its 26 kB first would cost as much as building it.
    RangeMinEntry() {}  // NOLINT: not = default, which would zero-fill under value-initialisation
    RangeMinEntry(double v, std::uint16_t i) : value(v), index(i) {}
};
// Level j holds the best entry of every run of 2^j grid points.
struct RangeMinTable {
    RangeMinTable() {}  // NOLINT: filled completely when built, so not zero-filled first
    std::array<std::array<RangeMinEntry, GRID_SIZE>, RANGE_MIN_LEVELS> levels;
    const std::array<RangeMinEntry, GRID_SIZE>& operator[](std::size_t level) const { return levels[level]; }
    std::array<RangeMinEntry, GRID_SIZE>& operator[](std::size_t level) { return levels[level]; }
};

struct PitchSearch {
    double energy = 0.0;        // sum s(n)^2 wI(n)^2
    double window_power = 0.0;  // sum wI(n)^4
    std::array<double, LAG_COUNT> autocorrelation{};
    std::array<double, GRID_SIZE> error{};
    RangeMinTable range_min;    // valid once has_range_min
    bool has_range_min = false;

    // s holds the 301 filtered samples centred on the frame's middle (n = -150..150).
    static PitchSearch from_lpf(std::span<const double, WINDOW_LENGTH> s);
    // The filtered samples of history frame i (0 = current, 1, 2 = newest).
    static PitchSearch for_frame(const std::array<double, LPF_LENGTH>& lpf, std::size_t frame);
    // for_frame of the three history frames (0 = current), the same values.
    static std::array<PitchSearch, 3> for_frames(const std::array<double, LPF_LENGTH>& lpf);

    void enable_argmin_fast();
    // E(P) at any period P (not only grid points).
    double error_at(double period) const;
    // Grid period with the smallest error in [lo, hi]; an empty range gives its lower bound
    // rounded up to the grid (at least 21.0) and error 1.0.
    PeriodError argmin_in_range(double lo, double hi) const;
};

// (P_B, CE_B): best period of the current frame within 20 % of the previous period, plus the
// two previous frames' errors.
PeriodError look_back(const PitchSearch& current, double previous_period, double previous_error,
                      double previous_error_2);

// (P_F, CE_F): best cumulative error over the current and the two following frames, with the
// sub-multiple check that prefers a shorter period explaining the signal nearly as well.
PeriodError look_ahead(const PitchSearch& current, const PitchSearch& next, const PitchSearch& after_next);

// P_B when CE_B <= max(CE_F, 0.48), otherwise P_F.
double decide_period(const PeriodError& back, const PeriodError& ahead);

}  // namespace ostrel_mbe::codecs::mbe_baseline::analysis::pitch
