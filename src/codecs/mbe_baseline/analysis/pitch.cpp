// SPDX-License-Identifier: GPL-2.0-or-later
#include "codecs/mbe_baseline/analysis/pitch.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

#include "codecs/mbe_baseline/analysis/generated_tables.h"
#include "common/check.h"
#include "common/fft.h"

namespace ostrel_mbe::codecs::mbe_baseline::analysis::pitch {
namespace {

template <std::size_t N>
std::array<double, N> widen(const std::array<float, N>& table) {
    std::array<double, N> out{};
    for (std::size_t i = 0; i < N; ++i) out[i] = static_cast<double>(table[i]);
    return out;
}

struct PitchTables {
    std::array<double, 21> lpf;
    std::array<double, WINDOW_LENGTH> window;
    double window_power;
};

const PitchTables& pitch_tables() {
    static const PitchTables shared = [] {
        PitchTables t{widen(tables::PITCH_LPF), widen(tables::PITCH_WINDOW_WI), 0.0};
        for (double w : t.window) t.window_power += w * w * w * w;
        return t;
    }();
    return shared;
}

// Smaller error wins; equal errors go to the smaller grid index, as a forward scan would.
RangeMinEntry better(const RangeMinEntry& a, const RangeMinEntry& b) {
    if (b.value < a.value) return b;
    if (a.value < b.value) return a;
    return b.index < a.index ? b : a;
}

}  // namespace

std::array<double, LPF_LENGTH> compute_s_lpf_shared(std::span<const double, 480> history) {
    const auto& h = pitch_tables().lpf;
    std::array<double, LPF_LENGTH> y{};
    for (int j = 0; j < static_cast<int>(LPF_LENGTH); ++j) {
        double sum = 0.0;
        for (int n = -10; n <= 10; ++n) {
            const int position = j - 70 - n;
            if (position < 0 || position >= 480) continue;
            sum += h[static_cast<std::size_t>(n + 10)] * history[static_cast<std::size_t>(position)];
        }
        y[static_cast<std::size_t>(j)] = sum;
    }
    return y;
}

PitchSearch PitchSearch::from_lpf(std::span<const double, WINDOW_LENGTH> s) {
    const PitchTables& t = pitch_tables();
    PitchSearch search;
    common::fft::Buffer<512> buffer{};
    double energy = 0.0;
    for (std::size_t i = 0; i < WINDOW_LENGTH; ++i) {
        const double w2 = t.window[i] * t.window[i];
        buffer[i] = {s[i] * w2, 0.0};
        energy += s[i] * s[i] * w2;
    }
    search.energy = energy;
    search.window_power = t.window_power;

    // r(t) = sum_n x(n) x(n + t) through the power spectrum; 512 points leave no wrap-around
    // for lags up to 150 of a 301-point sequence.
    common::fft::forward_512(buffer, buffer);
    for (auto& bin : buffer) bin = {std::norm(bin), 0.0};
    common::fft::inverse_512(buffer, buffer);
    for (std::size_t lag = 0; lag < LAG_COUNT; ++lag) search.autocorrelation[lag] = buffer[lag].real() * (1.0 / 512.0);

    for (std::size_t k = 0; k < GRID_SIZE; ++k) search.error[k] = search.error_at(grid_period(k));
    return search;
}

PitchSearch PitchSearch::for_frame(const std::array<double, LPF_LENGTH>& lpf, std::size_t frame) {
    OSTREL_CHECK(frame < 3, "the history holds three frames");
    return from_lpf(std::span<const double, WINDOW_LENGTH>(lpf.data() + 160 * frame, WINDOW_LENGTH));
}

double PitchSearch::error_at(double period) const {
    if (energy < 1e-12) return 1.0;
    OSTREL_CHECK(period >= 1.0 && period <= 150.0, "pitch periods stay inside the autocorrelation span");
    const auto r_interp = [this](double x) {
        const double base = std::floor(x);
        if (base + 1.0 > 150.0) return autocorrelation[150];
        const auto i = static_cast<std::size_t>(base);
        const double f = x - base;
        return (1.0 - f) * autocorrelation[i] + f * autocorrelation[i + 1];
    };
    const int q = static_cast<int>(std::floor(150.0 / period));
    double sum = 0.0;
    for (int t = -q; t <= q; ++t) sum += r_interp(std::fabs(static_cast<double>(t) * period));
    const double d = energy * (1.0 - period * window_power);
    if (d <= 0.0) return 1.0;
    return (energy - period * sum) / d;
}

void PitchSearch::enable_argmin_fast() {
    if (range_min) return;
    RangeMinTable& table = range_min.emplace();
    for (std::size_t i = 0; i < GRID_SIZE; ++i) table[0][i] = {error[i], static_cast<std::uint16_t>(i)};
    for (std::size_t level = 1; level < RANGE_MIN_LEVELS; ++level) {
        const std::size_t half = std::size_t{1} << (level - 1);
        for (std::size_t i = 0; i < GRID_SIZE; ++i) {
            const RangeMinEntry& left = table[level - 1][i];
            table[level][i] = i + half < GRID_SIZE ? better(left, table[level - 1][i + half]) : left;
        }
    }
}

PeriodError PitchSearch::argmin_in_range(double lo, double hi) const {
    const double c = std::ceil(2.0 * (std::max(lo, 21.0) - 21.0));
    const double e_bound = std::floor(2.0 * (std::min(hi, 122.0) - 21.0));
    if (!(e_bound >= c)) return {21.0 + std::max(c, 0.0) / 2.0, 1.0};
    const auto first = static_cast<std::size_t>(c);
    const auto last = static_cast<std::size_t>(std::min(e_bound, 202.0));
    // c <= e_bound <= 202 here: the range holds 1 to GRID_SIZE grid points.
    OSTREL_CHECK(first <= last && last < GRID_SIZE, "the searched range lies on the pitch grid");
    RangeMinEntry best{};
    if (range_min) {
        const std::size_t length = last - first + 1;
        // The largest level whose span fits the range.  Bounded by the table explicitly: GCC 12
        // at -O2 under the sanitizers does not carry length >= 1 into bit_width and warns of a
        // level of -1 (-Warray-bounds).
        const auto level = std::min<std::size_t>(std::bit_width(length) - 1, RANGE_MIN_LEVELS - 1);
        best = better((*range_min)[level][first], (*range_min)[level][last - (std::size_t{1} << level) + 1]);
    } else {
        best = {error[first], static_cast<std::uint16_t>(first)};
        for (std::size_t k = first + 1; k <= last; ++k) {
            if (error[k] < best.value) best = {error[k], static_cast<std::uint16_t>(k)};
        }
    }
    return {grid_period(best.index), best.value};
}

PeriodError look_back(const PitchSearch& current, double previous_period, double previous_error,
                      double previous_error_2) {
    const PeriodError best = current.argmin_in_range(0.8 * previous_period, 1.2 * previous_period);
    return {best.period, best.error + previous_error + previous_error_2};
}

namespace {

// E(P) + E1 + E2, with E1 and E2 from the two chained searches in the following frames
// started at period p.
double cumulative_error(double current_error, const PitchSearch& next, const PitchSearch& after_next, double p) {
    const PeriodError first = next.argmin_in_range(0.8 * p, 1.2 * p);
    const PeriodError second = after_next.argmin_in_range(0.8 * first.period, 1.2 * first.period);
    return current_error + first.error + second.error;
}

}  // namespace

PeriodError look_ahead(const PitchSearch& current, const PitchSearch& next, const PitchSearch& after_next) {
    PeriodError best{grid_period(0), cumulative_error(current.error[0], next, after_next, grid_period(0))};
    for (std::size_t k = 1; k < GRID_SIZE; ++k) {
        const double p = grid_period(k);
        const double ce = cumulative_error(current.error[k], next, after_next, p);
        if (ce < best.error) best = {p, ce};
    }

    // A period that is a multiple of the true one fits nearly as well; try the sub-multiples,
    // shortest period first, and take the first that explains the three frames well enough.
    const double divisors = std::floor(best.period / 21.0);
    if (divisors < 2.0) return best;
    for (int n = static_cast<int>(divisors); n >= 2; --n) {
        const double dn = static_cast<double>(n);
        if (best.period / dn < 21.0) continue;
        const double pn = std::round(2.0 * best.period / dn) / 2.0;
        if (pn < 21.0 || pn > 122.0) continue;
        const double ce = cumulative_error(current.error_at(pn), next, after_next, pn);
        const double ratio = best.error > 0.0 ? ce / best.error : std::numeric_limits<double>::infinity();
        if (ce <= 0.85 && (ratio <= 1.7 || (ce <= 0.4 && (ce <= 0.05 || ratio <= 3.5)))) return {pn, ce};
    }
    return best;
}

double decide_period(const PeriodError& back, const PeriodError& ahead) {
    return back.error <= std::max(ahead.error, 0.48) ? back.period : ahead.period;
}

}  // namespace ostrel_mbe::codecs::mbe_baseline::analysis::pitch
