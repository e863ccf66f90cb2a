// SPDX-License-Identifier: GPL-2.0-or-later
#include "codecs/mbe_baseline/analysis/pitch.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

#include "codecs/mbe_baseline/analysis/pitch_tables.h"
#include "common/built_once.h"
#include "common/check.h"
#include "common/fft.h"
#include "common/simd.h"

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
    std::array<double, WINDOW_LENGTH> window_squared;
    double window_power;
};

PitchTables build_pitch_tables() {
    PitchTables t{widen(tables::PITCH_LPF), widen(tables::PITCH_WINDOW_WI), {}, 0.0};
    for (std::size_t i = 0; i < WINDOW_LENGTH; ++i) t.window_squared[i] = t.window[i] * t.window[i];
    for (double w : t.window) t.window_power += w * w * w * w;
    return t;
}

const PitchTables& pitch_tables() { return common::built_once<build_pitch_tables>(); }

// Smaller error wins; equal errors go to the smaller grid index, as a forward scan would.
RangeMinEntry better(const RangeMinEntry& a, const RangeMinEntry& b) {
    if (b.value < a.value) return b;
    if (a.value < b.value) return a;
    return b.index < a.index ? b : a;
}

// The grid periods in runs of equal q = floor(150 / P_k) = 300 / (42 + k): within a run the
// 2q + 1 terms of E(P_k) are a fixed sequence, added by code unrolled for that q.
struct QuotientRun {
    std::uint16_t first;
    std::uint16_t end;
    std::uint16_t q;
};
constexpr std::size_t QUOTIENT_RUNS = 7;  // q = 7 down to 1

std::array<QuotientRun, QUOTIENT_RUNS> build_quotient_runs() {
    std::array<QuotientRun, QUOTIENT_RUNS> runs{};
    std::size_t run = 0;
    for (std::size_t k = 0; k < GRID_SIZE; ++k) {
        const auto q = static_cast<std::uint16_t>(300 / (42 + k));
        if (k > 0 && q == runs[run].q) {
            runs[run].end = static_cast<std::uint16_t>(k + 1);
            continue;
        }
        if (k > 0) ++run;
        OSTREL_CHECK(run < QUOTIENT_RUNS, "the grid's quotients run from 7 down to 1");
        runs[run] = {static_cast<std::uint16_t>(k), static_cast<std::uint16_t>(k + 1), q};
    }
    OSTREL_CHECK(run + 1 == QUOTIENT_RUNS && runs[run].end == GRID_SIZE, "seven runs cover the grid");
    return runs;
}

const std::array<QuotientRun, QUOTIENT_RUNS>& quotient_runs() { return common::built_once<build_quotient_runs>(); }

// The sums of E(P_k) over one quotient run: term t = q down to 1, t = 0, t = 1 up to q, with
// term t at term[t (42 + k)].  Each sum stays in a register and the q distinct terms are read
// once.  0 + x, the first addition, is x (only a zero's sign could differ, and the sum goes on
// only as period * sum subtracted from the energy, which a zero of either sign leaves).
template <std::size_t Q>
[[gnu::always_inline]] inline void add_run(const double* term, const QuotientRun& run, double* sum) {
    for (std::size_t k = run.first; k < run.end; ++k) {
        const std::size_t m = 42 + k;
        std::array<double, Q + 1> x;
        for (std::size_t t = 0; t <= Q; ++t) x[t] = term[t * m];
        double total = x[Q];
        for (std::size_t t = Q - 1; t >= 1; --t) total += x[t];
        total += x[0];
        for (std::size_t t = 1; t <= Q; ++t) total += x[t];
        sum[k] = total;
    }
}

// E(P_k) at every grid period, equal to error_at(grid_period(k)) bit for bit: t P_k =
// t (42 + k) / 2 falls on a whole or a half lag, so each interpolated term is r(i) or
// 0.5 r(i) + 0.5 r(i + 1) (the weights 1 and 0 leave r(i) unchanged), looked up instead of
// recomputed; floor(150 / P_k) is the integer quotient 300 / (42 + k).  Each sum adds its terms
// in error_at's order: t = q down to 1, t = 0, t = 1 up to q.
OSTREL_AVX2_CLONES
void fill_grid_errors(PitchSearch& search) {
    if (search.energy < 1e-12) {
        search.error.fill(1.0);
        return;
    }
    const auto& r = search.autocorrelation;
    std::array<double, 2 * LAG_COUNT> term;  // term[m] = r(m / 2), m = 0..301
    for (std::size_t i = 0; i + 1 < LAG_COUNT; ++i) {
        term[2 * i] = r[i];
        term[2 * i + 1] = 0.5 * r[i] + 0.5 * r[i + 1];
    }
    term[2 * (LAG_COUNT - 1)] = r[LAG_COUNT - 1];
    term[2 * LAG_COUNT - 1] = r[LAG_COUNT - 1];
    std::array<double, GRID_SIZE> sum;
    for (const QuotientRun& run : quotient_runs()) {
        switch (run.q) {
            case 7: add_run<7>(term.data(), run, sum.data()); break;
            case 6: add_run<6>(term.data(), run, sum.data()); break;
            case 5: add_run<5>(term.data(), run, sum.data()); break;
            case 4: add_run<4>(term.data(), run, sum.data()); break;
            case 3: add_run<3>(term.data(), run, sum.data()); break;
            case 2: add_run<2>(term.data(), run, sum.data()); break;
            default: add_run<1>(term.data(), run, sum.data()); break;
        }
    }
    // Four grid points per step, each lane the scalar expression (a lane whose denominator is
    // not positive takes 1 and discards its quotient).
    using common::simd::Quad;
    const Quad energy = {search.energy, search.energy, search.energy, search.energy};
    const Quad window_power = {search.window_power, search.window_power, search.window_power, search.window_power};
    const Quad one = {1.0, 1.0, 1.0, 1.0};
    const Quad zero = {};
    std::size_t k = 0;
    for (; k + 4 <= GRID_SIZE; k += 4) {
        const Quad period = {grid_period(k), grid_period(k + 1), grid_period(k + 2), grid_period(k + 3)};
        const Quad denominator = energy * (one - period * window_power);
        const Quad numerator = energy - period * Quad(common::simd::quad_at(sum.data() + k));
        common::simd::quad_at(search.error.data() + k) = denominator <= zero ? one : numerator / denominator;
    }
    for (; k < GRID_SIZE; ++k) {
        const double period = grid_period(k);
        const double denominator = search.energy * (1.0 - period * search.window_power);
        const double numerator = search.energy - period * sum[k];
        search.error[k] = denominator <= 0.0 ? 1.0 : numerator / denominator;
    }
}

}  // namespace

// Built for AVX2 and for the baseline instruction set, picked at load (the same operations in
// the same order either way: no fused multiply-add).
OSTREL_AVX2_CLONES
std::array<double, LPF_LENGTH> compute_s_lpf_shared(std::span<const double, 480> history) {
    const auto& h = pitch_tables().lpf;
    // The history between 80 zeros on the left and zeros on the right, so that every tap reads a
    // sample: the zero terms leave each sum exactly as a bounds-checked loop would.  Sixteen
    // outputs at a time stay in four vector registers while the taps run over them, in the same
    // order for every output (the first product added to zero), and only then are stored.
    constexpr int LEFT = 80;
    constexpr std::size_t BLOCK = 16;
    constexpr std::size_t BLOCKED_LENGTH = (LPF_LENGTH + BLOCK - 1) / BLOCK * BLOCK;  // 624
    // Output j reads history[j - 80 .. j - 60].  A block whose every tap reads the zeros around
    // the history sums +-0 products into +0: the blocks before the one holding output 60 (the
    // first to read history[0]) and those from output 560 on (past history[479]) are left at +0
    // without the sums.
    constexpr std::size_t FIRST_LIVE = 60 / BLOCK * BLOCK;                 // 48
    constexpr std::size_t END_LIVE = (80 + 480 + BLOCK - 1) / BLOCK * BLOCK;  // 560
    static_assert(FIRST_LIVE - 1 < 60 && END_LIVE - 80 >= 480 && END_LIVE <= LPF_LENGTH);
    alignas(64) std::array<double, BLOCKED_LENGTH + 20> padded{};
    std::copy(history.begin(), history.end(), padded.begin() + LEFT);
    std::array<double, LPF_LENGTH> y;
    std::fill(y.begin(), y.begin() + FIRST_LIVE, 0.0);
    std::fill(y.begin() + END_LIVE, y.end(), 0.0);
    using common::simd::Quad;
    using common::simd::quad_at;
    for (std::size_t j = FIRST_LIVE; j < END_LIVE; j += BLOCK) {
        Quad y0{}, y1{}, y2{}, y3{};
#pragma GCC unroll 21
        for (int n = -10; n <= 10; ++n) {
            const double tap = h[static_cast<std::size_t>(n + 10)];
            const Quad t = {tap, tap, tap, tap};
            const double* x = padded.data() + (LEFT - 70 - n) + j;  // x[i] = history[j + i - 70 - n]
            y0 += t * Quad(quad_at(x));
            y1 += t * Quad(quad_at(x + 4));
            y2 += t * Quad(quad_at(x + 8));
            y3 += t * Quad(quad_at(x + 12));
        }
        double* out = y.data() + j;
        quad_at(out) = y0;
        quad_at(out + 4) = y1;
        quad_at(out + 8) = y2;
        quad_at(out + 12) = y3;
    }
    return y;
}

namespace {

// The rest of from_lpf once the windowed samples are in buffer and the energy is known.
OSTREL_AVX2_CLONES
void finish_search(PitchSearch& search, double energy, common::fft::RealBuffer<512>& buffer) {
    std::fill(buffer.begin() + WINDOW_LENGTH, buffer.end(), 0.0);
    search.energy = energy;
    search.window_power = pitch_tables().window_power;

    // r(t) = sum_n x(n) x(n + t) through the power spectrum; 512 points leave no wrap-around
    // for lags up to 150 of a 301-point sequence.
    common::fft::HalfSpectrum<512> spectrum;
    common::fft::forward_real_512(buffer, spectrum);
    for (auto& bin : spectrum) bin = {std::norm(bin), 0.0};
    common::fft::inverse_real_512(spectrum, buffer);
    for (std::size_t lag = 0; lag < LAG_COUNT; ++lag) search.autocorrelation[lag] = buffer[lag] * (1.0 / 512.0);

    fill_grid_errors(search);
}

}  // namespace

OSTREL_AVX2_CLONES
PitchSearch PitchSearch::from_lpf(std::span<const double, WINDOW_LENGTH> s) {
    const PitchTables& t = pitch_tables();
    PitchSearch search;
    common::fft::RealBuffer<512> buffer;
    double energy = 0.0;
    for (std::size_t i = 0; i < WINDOW_LENGTH; ++i) {
        const double w2 = t.window_squared[i];
        buffer[i] = s[i] * w2;
        energy += s[i] * s[i] * w2;
    }
    finish_search(search, energy, buffer);
    return search;
}

// The energy is a chain of 301 dependent additions: the three frames' chains run side by side,
// one vector lane each, every lane adding its frame's terms in from_lpf's order.
OSTREL_AVX2_CLONES
std::array<PitchSearch, 3> PitchSearch::for_frames(const std::array<double, LPF_LENGTH>& lpf) {
    const PitchTables& t = pitch_tables();
    std::array<PitchSearch, 3> out;
    std::array<common::fft::RealBuffer<512>, 3> buffers;
    using common::simd::Quad;
    Quad energy{};
    for (std::size_t i = 0; i < WINDOW_LENGTH; ++i) {
        const double w2 = t.window_squared[i];
        const Quad s = {lpf[i], lpf[160 + i], lpf[320 + i], 0.0};
        const Quad windowed = s * w2;
        for (std::size_t f = 0; f < 3; ++f) buffers[f][i] = windowed[f];
        energy += s * s * w2;
    }
    for (std::size_t f = 0; f < 3; ++f) finish_search(out[f], energy[f], buffers[f]);
    return out;
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
    // The terms at t and -t are equal: interpolate each once, then add all 2q + 1 in order.
    std::array<double, LAG_COUNT> term;
    for (int t = 0; t <= q; ++t) term[static_cast<std::size_t>(t)] = r_interp(static_cast<double>(t) * period);
    double sum = 0.0;
    for (int t = -q; t <= q; ++t) sum += term[static_cast<std::size_t>(t < 0 ? -t : t)];
    const double d = energy * (1.0 - period * window_power);
    if (d <= 0.0) return 1.0;
    return (energy - period * sum) / d;
}

void PitchSearch::enable_argmin_fast() {
    if (has_range_min) return;
    has_range_min = true;
    RangeMinTable& table = range_min;
    for (std::size_t i = 0; i < GRID_SIZE; ++i) table[0][i] = RangeMinEntry{error[i], static_cast<std::uint16_t>(i)};
    for (std::size_t level = 1; level < RANGE_MIN_LEVELS; ++level) {
        const std::size_t half = std::size_t{1} << (level - 1);
        const auto& below = table[level - 1];
        auto& row = table[level];
        // Every index of the right run exceeds every index of the left one, so better() comes
        // down to one comparison: the right entry only when strictly smaller.
        for (std::size_t i = 0; i + half < GRID_SIZE; ++i) {
            row[i] = below[i + half].value < below[i].value ? below[i + half] : below[i];
        }
        for (std::size_t i = GRID_SIZE - std::min(half, GRID_SIZE); i < GRID_SIZE; ++i) row[i] = below[i];
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
    RangeMinEntry best;
    if (has_range_min) {
        const std::size_t length = last - first + 1;
        // The largest level whose span fits the range.  Bounded by the table explicitly: GCC 12
        // at -O2 under the sanitizers does not carry length >= 1 into bit_width and warns of a
        // level of -1 (-Warray-bounds).
        const auto level = std::min<std::size_t>(std::bit_width(length) - 1, RANGE_MIN_LEVELS - 1);
        best = better(range_min[level][first], range_min[level][last - (std::size_t{1} << level) + 1]);
    } else {
        best = RangeMinEntry{error[first], static_cast<std::uint16_t>(first)};
        for (std::size_t k = first + 1; k <= last; ++k) {
            if (error[k] < best.value) best = RangeMinEntry{error[k], static_cast<std::uint16_t>(k)};
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

std::size_t grid_index(double period) { return static_cast<std::size_t>((period - 21.0) * 2.0); }

// The grid range [0.8 P_k, 1.2 P_k] of every grid period P_k, its ends exactly as
// argmin_in_range computes them (never empty).  Both ends grow with k.
// With the places in window_minima's table of the two runs of 2^level grid points (the largest
// that fits) that cover the range: level * GRID_SIZE plus the runs' first points.
struct GridRange {
    std::uint16_t first;
    std::uint16_t last;
    std::uint16_t left_run;
    std::uint16_t right_run;
};

// 2^6 = 64 grid points reach past half of the widest range (81 points, at P = 100).
constexpr std::size_t WINDOW_LEVELS = 7;

std::array<GridRange, GRID_SIZE> build_grid_ranges() {
    std::array<GridRange, GRID_SIZE> r{};
    for (std::size_t k = 0; k < GRID_SIZE; ++k) {
        const double p = grid_period(k);
        const double c = std::ceil(2.0 * (std::max(0.8 * p, 21.0) - 21.0));
        const double e_bound = std::floor(2.0 * (std::min(1.2 * p, 122.0) - 21.0));
        OSTREL_CHECK(e_bound >= c && c >= 0.0, "every grid period's range holds grid points");
        const auto first = static_cast<std::uint16_t>(c);
        const auto last = static_cast<std::uint16_t>(std::min(e_bound, 202.0));
        const auto level = static_cast<std::size_t>(std::bit_width(static_cast<unsigned>(last - first + 1)) - 1);
        OSTREL_CHECK(level < WINDOW_LEVELS, "every grid range fits the window levels");
        const std::size_t row = level * GRID_SIZE;
        r[k] = {first, last, static_cast<std::uint16_t>(row + first),
                static_cast<std::uint16_t>(row + last + 1 - (std::size_t{1} << level))};
        OSTREL_CHECK(k == 0 || (r[k].first >= r[k - 1].first && r[k].last >= r[k - 1].last),
                     "the grid ranges slide upwards");
    }
    return r;
}

const std::array<GridRange, GRID_SIZE>& grid_ranges() { return common::built_once<build_grid_ranges>(); }

// The best grid point of a range: its index and error.
struct GridMinimum {
    std::uint16_t index;
    double error;
};

// search.argmin_in_range(0.8 P_k, 1.2 P_k) for every grid period P_k, from a table of the
// minima of every run of 2^j grid points (as enable_argmin_fast builds, with the errors and
// their indices in two arrays so that a level is built four points at a time, and with only the
// levels the ranges need): a range is covered by two runs of its level, and the right run's
// minimum wins only when strictly smaller, so of equal errors the smaller index stays, as in
// argmin_in_range.  No branch depends on the errors, which a queue of candidates could not avoid.
// Built for AVX2 and for the baseline instruction set (the same operations in the same order).
OSTREL_AVX2_CLONES
std::array<GridMinimum, GRID_SIZE> window_minima(const PitchSearch& search) {
    const auto& ranges = grid_ranges();
    // Level j at [j * GRID_SIZE ..]: entry i the minimum of the run of 2^j points from i and its
    // index (small integers, held as doubles to move with the errors).
    using common::simd::Quad;
    using common::simd::quad_at;
    alignas(32) std::array<double, WINDOW_LEVELS * GRID_SIZE> error;
    alignas(32) std::array<double, WINDOW_LEVELS * GRID_SIZE> index;
    static constexpr auto GRID_INDICES = [] {
        std::array<double, GRID_SIZE> out{};
        for (std::size_t i = 0; i < GRID_SIZE; ++i) out[i] = static_cast<double>(i);
        return out;
    }();
    std::copy(search.error.begin(), search.error.end(), error.begin());
    std::copy(GRID_INDICES.begin(), GRID_INDICES.end(), index.begin());
    for (std::size_t level = 1; level < WINDOW_LEVELS; ++level) {
        const std::size_t half = std::size_t{1} << (level - 1);
        const std::size_t below = (level - 1) * GRID_SIZE;
        const std::size_t row = level * GRID_SIZE;
        // Only runs inside the grid: those past its end are never read.  Four at a time, one
        // lane each, the rest one by one.
        const std::size_t count = GRID_SIZE + 1 - 2 * half;
        std::size_t i = 0;
        for (; i + 4 <= count; i += 4) {
            const Quad left = quad_at(error.data() + below + i);
            const Quad right = quad_at(error.data() + below + i + half);
            const auto take_right = right < left;
            quad_at(error.data() + row + i) = take_right ? right : left;
            quad_at(index.data() + row + i) =
                take_right ? Quad(quad_at(index.data() + below + i + half)) : Quad(quad_at(index.data() + below + i));
        }
        for (; i < count; ++i) {
            const bool take_right = error[below + i + half] < error[below + i];
            error[row + i] = take_right ? error[below + i + half] : error[below + i];
            index[row + i] = take_right ? index[below + i + half] : index[below + i];
        }
    }
    std::array<GridMinimum, GRID_SIZE> out;
    for (std::size_t k = 0; k < GRID_SIZE; ++k) {
        const GridRange& r = ranges[k];
        const std::size_t pick = error[r.right_run] < error[r.left_run] ? r.right_run : r.left_run;
        out[k] = {static_cast<std::uint16_t>(index[pick]), error[pick]};
    }
    return out;
}

}  // namespace

PeriodError look_ahead(const PitchSearch& current, const PitchSearch& next, const PitchSearch& after_next) {
    // Every period searched from here on is a grid period, so the two chained searches in the
    // following frames (E1 from next at P, E2 from after_next at E1's period) are table lookups.
    const std::array<GridMinimum, GRID_SIZE> next_best = window_minima(next);
    const std::array<GridMinimum, GRID_SIZE> after_best = window_minima(after_next);
    const auto cumulative_error = [&](double current_error, std::size_t k) {
        const GridMinimum& first = next_best[k];
        return current_error + first.error + after_best[first.index].error;
    };

    std::size_t best_k = 0;
    double best_error = cumulative_error(current.error[0], 0);
    for (std::size_t k = 1; k < GRID_SIZE; ++k) {
        const double ce = cumulative_error(current.error[k], k);
        if (ce < best_error) {
            best_k = k;
            best_error = ce;
        }
    }
    const PeriodError best{grid_period(best_k), best_error};

    // A period that is a multiple of the true one fits nearly as well; try the sub-multiples,
    // shortest period first, and take the first that explains the three frames well enough.
    const double divisors = std::floor(best.period / 21.0);
    if (divisors < 2.0) return best;
    for (int n = static_cast<int>(divisors); n >= 2; --n) {
        const double dn = static_cast<double>(n);
        if (best.period / dn < 21.0) continue;
        const double pn = std::round(2.0 * best.period / dn) / 2.0;
        if (pn < 21.0 || pn > 122.0) continue;
        const double ce = cumulative_error(current.error_at(pn), grid_index(pn));
        const double ratio = best.error > 0.0 ? ce / best.error : std::numeric_limits<double>::infinity();
        if (ce <= 0.85 && (ratio <= 1.7 || (ce <= 0.4 && (ce <= 0.05 || ratio <= 3.5)))) return {pn, ce};
    }
    return best;
}

double decide_period(const PeriodError& back, const PeriodError& ahead) {
    return back.error <= std::max(ahead.error, 0.48) ? back.period : ahead.period;
}

}  // namespace ostrel_mbe::codecs::mbe_baseline::analysis::pitch
