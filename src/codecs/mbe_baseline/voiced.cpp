// SPDX-License-Identifier: GPL-2.0-or-later
#include "codecs/mbe_baseline/voiced.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "codecs/mbe_baseline/phase_regen.h"
#include "codecs/mbe_baseline/synthesis_window.h"
#include "common/check.h"
#include "common/simd.h"
#include "common/sincos.h"

namespace ostrel_mbe::codecs::mbe_baseline {
namespace {

constexpr int FRAME = 160;
constexpr double FRAME_D = 160.0;
constexpr double PI = std::numbers::pi;
constexpr double TWO_PI = 2.0 * PI;

// Fading sinusoids are rendered eight harmonics at a time, as two four-lane vectors.
constexpr std::size_t GROUP = 8;

constexpr std::array<double, FRAME> FADE_OUT_WINDOW = [] {
    std::array<double, FRAME> w{};
    for (int n = 0; n < FRAME; ++n) w[static_cast<std::size_t>(n)] = synthesis_window(n);
    return w;
}();
constexpr std::array<double, FRAME> FADE_IN_WINDOW = [] {
    std::array<double, FRAME> w{};
    for (int n = 0; n < FRAME; ++n) w[static_cast<std::size_t>(n)] = synthesis_window(n - FRAME);
    return w;
}();

Phasor mul(Phasor a, Phasor b) { return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re}; }
Phasor scale(Phasor a, double k) { return {a.re * k, a.im * k}; }
Phasor power(Phasor r, unsigned k) {
    Phasor result{};
    while (k != 0) {
        if ((k & 1u) != 0) result = mul(result, r);
        r = mul(r, r);
        k >>= 1;
    }
    return result;
}

using common::simd::high_half;
using common::simd::low_half;
using common::simd::Pair;
using common::simd::Quad;
using common::simd::quad_at;

// e^{i angle} of angles[0..count), four at a time into re and im (each with room for the last
// four).  Within an ulp of the C library's sin and cos, and the same on every target.
template <std::size_t N>
[[gnu::always_inline]] inline void polar_all(const std::array<double, N>& angles, std::size_t count,
                                             std::array<double, N>& re, std::array<double, N>& im) {
    for (std::size_t i = 0; i + 4 <= N && i < count; i += 4) {
        const Quad x = quad_at(angles.data() + i);
        Quad s, c;
        common::sincos4(x, s, c);
        quad_at(re.data() + i) = c;
        quad_at(im.data() + i) = s;
    }
}

// Sinusoids x(n) = Re(z r^(n - first)) sharing one sample range, each by the three-term
// recurrence x(n + 1) = 2 cos(w) x(n) - x(n - 1): one multiplication and one subtraction per
// sample, no per-sample transcendental call.  The harmonics are the lanes: eight at a time move
// through the samples together and their sum is added once per sample.
struct SinusoidBatch {
    // Entries from count on are set by render (zeros up to the end of the last group).
    std::array<double, L_HAT_MAX + GROUP> before;  // x(first - 1)
    std::array<double, L_HAT_MAX + GROUP> now;     // x(first)
    std::array<double, L_HAT_MAX + GROUP> twice_cos;
    std::size_t count = 0;

    void add(Phasor z, Phasor r) {
        before[count] = mul(z, {r.re, -r.im}).re;
        now[count] = z.re;
        twice_cos[count] = 2.0 * r.re;
        ++count;
    }

    // Per sample, the sum of group h..h+7 is taken as two halves, the even harmonics
    // ((h + (h+2)) + ((h+4) + (h+6))) and the odd ones likewise; each half accumulates over the
    // groups in order from zero, and the sample's sum is the even half plus the odd half.
    // sums[p] holds the halves of samples n = first + 2p and n + 1 as (even(n), even(n + 1),
    // odd(n), odd(n + 1)).
    using PairSums = std::array<Quad, FRAME / 2 + 1>;

    // out[n] += window[n] * sum of x(n) over the batch, n = first..end-1.
    [[gnu::always_inline]] void render(int first, int end, const std::array<double, FRAME>& window,
                                       std::array<double, FRAME>& out) {
        // Nothing to add: out holds no negative zero for an added zero to turn positive.
        if (count == 0) return;
        // The last group's lanes past count hold zeros and stay zero.
        for (std::size_t i = count; i % GROUP != 0; ++i) before[i] = now[i] = twice_cos[i] = 0.0;
        // Samples go in pairs; an odd range computes one sample past its end and drops it.
        const auto begin = static_cast<std::size_t>(first);
        const auto stop = static_cast<std::size_t>(end);
        const std::size_t pairs = (stop - begin + 1) / 2;
        PairSums sums;
        // Two groups per pass give the processor four independent recurrences to overlap.
        std::size_t g = 0;
        if (g + GROUP < count) {
            render_groups<2, true>(g, pairs, sums);
            g += 2 * GROUP;
        } else {
            render_groups<1, true>(g, pairs, sums);
            g += GROUP;
        }
        for (; g + GROUP < count; g += 2 * GROUP) render_groups<2, false>(g, pairs, sums);
        if (g < count) render_groups<1, false>(g, pairs, sums);
        // Two pairs at a time: (sum(n), .., sum(n + 3)) from their halves.
        std::size_t p = 0;
        for (; begin + 2 * p + 4 <= stop; p += 2) {
            const Quad& a = sums[p];
            const Quad& b = sums[p + 1];
            const Quad total = __builtin_shufflevector(a, b, 0, 1, 4, 5) + __builtin_shufflevector(a, b, 2, 3, 6, 7);
            const std::size_t n = begin + 2 * p;
            quad_at(out.data() + n) += quad_at(window.data() + n) * total;
        }
        for (std::size_t n = begin + 2 * p; n < stop; ++n) {
            const Quad& s = sums[(n - begin) / 2];
            const std::size_t lane = (n - begin) % 2;
            out[n] += window[n] * (s[lane] + s[lane + 2]);
        }
    }

    // Adds groups g, g + 8, ... (GROUPS of them, in that order) to sums (FIRST: to zero).
    // Harmonics h..h+7 of a group sit in two quads as (h, h+4, h+1, h+5) and (h+2, h+6, h+3, h+7):
    // their sum is the pairs ((h + (h+2)), ((h+4) + (h+6)), ...), and one horizontal add of two
    // samples' sums gives both samples' halves in the layout of PairSums.  Two samples per step:
    // the recurrence alternates between the two registers instead of moving one into the other.
    template <std::size_t GROUPS, bool FIRST>
    [[gnu::always_inline]] void render_groups(std::size_t g, std::size_t pairs, PairSums& sums) const {
        constexpr std::size_t QUADS = 2 * GROUPS;
        const auto load = [g](const std::array<double, L_HAT_MAX + GROUP>& v) {
            std::array<Quad, QUADS> q;
            for (std::size_t i = 0; i < QUADS; ++i) {
                const std::size_t h = g + (i / 2) * GROUP + (i % 2) * 2;
                q[i] = Quad{v[h], v[h + 4], v[h + 1], v[h + 5]};
            }
            return q;
        };
        std::array<Quad, QUADS> b = load(before), x = load(now);
        const std::array<Quad, QUADS> k = load(twice_cos);
        for (std::size_t p = 0; p < pairs; ++p) {
            Quad& total = sums[p];
            Quad t{};
            if constexpr (!FIRST) t = total;
            for (std::size_t i = 0; i < QUADS; ++i) b[i] = k[i] * x[i] - b[i];  // x(n + 1)
            for (std::size_t i = 0; i < QUADS; i += 2) {
                const Quad now_sum = x[i] + x[i + 1];
                const Quad next_sum = b[i] + b[i + 1];
                t += __builtin_shufflevector(now_sum, next_sum, 0, 4, 2, 6) +
                     __builtin_shufflevector(now_sum, next_sum, 1, 5, 3, 7);
            }
            total = t;
            for (std::size_t i = 0; i < QUADS; ++i) x[i] = k[i] * b[i] - x[i];  // x(n + 2)
        }
    }
};

// Harmonics at most this high are interpolated across the frame boundary when steady.
constexpr std::size_t INTERPOLATED_MAX = 7;

// Sinusoids 2 (m_prev + (n / 160)(m - m_prev)) cos(theta(n)), n = 0..159, each with the phase
// theta(n) = phi + b n + c n^2 and start = e^{i phi}.  Four lanes each follow every fourth sample:
// e^{i theta} advances by e^{i (theta(n + 4) - theta(n))} = e^{i (4 b + 16 c + 8 c n)}, which
// itself turns by e^{i 32 c} per step.  They are collected and rendered together, two at a time,
// so that the processor overlaps their recurrences; each sample still takes them in order.
struct InterpolatedBatch {
    using Lanes = std::array<double, 4>;
    // Entries 0..count-1 are set.
    std::array<Lanes, INTERPOLATED_MAX> zr, zi, dr, di, env;
    std::array<double, INTERPOLATED_MAX> env_step, q_re, q_im;
    std::size_t count = 0;

    // eb = e^{i b}, ec = e^{i c}.
    void add(Phasor start, Phasor eb, Phasor ec, double m_prev, double m) {
        constexpr std::size_t STEP = 4;
        std::array<Phasor, STEP> z{};
        Phasor step = mul(eb, ec);  // e^{i (theta(1) - theta(0))}
        const Phasor e2c = mul(ec, ec);
        z[0] = start;
        for (std::size_t j = 1; j < STEP; ++j) {
            z[j] = mul(z[j - 1], step);
            step = mul(step, e2c);
        }
        const Phasor e8c = power(ec, 8);
        std::array<Phasor, STEP> d{};
        d[0] = mul(power(eb, 4), mul(e8c, e8c));  // e^{i (4 b + 16 c)}
        for (std::size_t j = 1; j < STEP; ++j) d[j] = mul(d[j - 1], e8c);
        const Phasor q = power(e8c, 4);  // e^{i 32 c}
        const double slope = (m - m_prev) / FRAME_D;
        for (std::size_t j = 0; j < STEP; ++j) {
            zr[count][j] = z[j].re, zi[count][j] = z[j].im;
            dr[count][j] = d[j].re, di[count][j] = d[j].im;
        }
        // Twice the envelope, the factor 2 of the sinusoid's amplitude taken in: doubling is exact,
        // so each step's sum is exactly twice the envelope's.
        env[count] = {2.0 * m_prev, 2.0 * (m_prev + slope), 2.0 * (m_prev + 2.0 * slope), 2.0 * (m_prev + 3.0 * slope)};
        env_step[count] = 2.0 * (STEP * slope);
        q_re[count] = q.re, q_im[count] = q.im;
        ++count;
    }

    // out[n] += the sinusoids, n = 0..159.
    [[gnu::always_inline]] void render(std::array<double, FRAME>& out) const {
        std::size_t k = 0;
        for (; k + 1 < count; k += 2) render_group<2>(k, out);
        if (k < count) render_group<1>(k, out);
    }

    // Sinusoids k..k+SIZE-1.
    template <std::size_t SIZE>
    [[gnu::always_inline]] void render_group(std::size_t k, std::array<double, FRAME>& out) const {
        std::array<Quad, SIZE> zr_, zi_, dr_, di_, env_;
        for (std::size_t i = 0; i < SIZE; ++i) {
            const Lanes &r = zr[k + i], &im = zi[k + i], &d_r = dr[k + i], &d_i = di[k + i], &e = env[k + i];
            zr_[i] = Quad{r[0], r[1], r[2], r[3]};
            zi_[i] = Quad{im[0], im[1], im[2], im[3]};
            dr_[i] = Quad{d_r[0], d_r[1], d_r[2], d_r[3]};
            di_[i] = Quad{d_i[0], d_i[1], d_i[2], d_i[3]};
            env_[i] = Quad{e[0], e[1], e[2], e[3]};
        }
        for (int n = 0; n < FRAME; n += 4) {
            for (std::size_t i = 0; i < SIZE; ++i) quad_at(out.data() + n) += env_[i] * zr_[i];
            for (std::size_t i = 0; i < SIZE; ++i) {
                const double qr = q_re[k + i], qi = q_im[k + i];
                const Quad r = zr_[i] * dr_[i] - zi_[i] * di_[i];
                zi_[i] = zr_[i] * di_[i] + zi_[i] * dr_[i];
                zr_[i] = r;
                const Quad t = dr_[i] * qr - di_[i] * qi;
                di_[i] = dr_[i] * qi + di_[i] * qr;
                dr_[i] = t;
                env_[i] += env_step[k + i];
            }
        }
    }
};

// x - 2 pi k in [-pi, pi).
double wrap(double x) { return x - TWO_PI * std::floor((x + PI) / TWO_PI); }

// track[l] = wrap(previous[l] + (w0_prev + w0) l 160 / 2), l = 1..56: the phase track one frame
// on.  A function of its own, built for AVX2 as well, with a 32-bit index (AVX2 converts
// those to double, not 64-bit ones): that is where the compiler vectorises it.
OSTREL_AVX2_CLONES [[gnu::noinline]]
void advance_track(const double* __restrict previous, double* __restrict track, double w_sum) {
    for (int l = 1; l <= static_cast<int>(L_HAT_MAX); ++l) {
        track[l] = wrap(previous[l] + w_sum * static_cast<double>(l) * FRAME_D * 0.5);
    }
}

}  // namespace

// Built twice, for AVX2 and for the baseline instruction set, and picked when the library is
// loaded: the sample-block loops run on 4-wide registers where the processor has them.  Without
// fused multiply-add either build does the same operations in the same order, so both give the
// same samples.
OSTREL_AVX2_CLONES
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

    std::array<double, L_HAT_MAX + 1> track;
    track[0] = 0.0;
    advance_track(state.phase_track.data(), track.data(), w0_prev + w0);

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
        // A 32-bit index, which AVX2 converts to double: the loop is vectorised.
        for (int l = static_cast<int>(tracked) + 1; l <= static_cast<int>(L_HAT_MAX); ++l) {
            const double h = static_cast<double>(l);
            phase[l] += h * unvoiced_share * ((2.0 * PI / modulus_d) * noise[l - 1] - PI);
        }
    }

    // Fading sinusoids are summed per side and windowed once; the interpolated ones go straight
    // to the output.  Harmonic rotations come from powers of the fundamental's.
    SinusoidBatch fade_out;
    SinusoidBatch fade_in;
    InterpolatedBatch interpolated;
    std::array<double, FRAME> out{};
    // The rotations, all at once: the fundamentals' (and from n = 160 back to 56), e^{i phase}
    // of every harmonic, and for the interpolated harmonics e^{i b} and e^{i c} of the cubic
    // phase theta(n) = phi + b n + c n^2 (entries 0..6 and 8..14 for harmonics 1..7).
    const std::size_t top = std::max(prev_count, count);
    const std::size_t interpolated_top = std::min(top, INTERPOLATED_MAX);
    std::array<double, L_HAT_MAX + 4> angle, cos_a, sin_a;
    angle[0] = w0_prev, angle[1] = w0, angle[2] = -(FRAME - FADE_IN_BEGIN) * w0, angle[3] = 0.0;
    polar_all(angle, 3, cos_a, sin_a);
    const Phasor step_prev{cos_a[0], sin_a[0]};
    const Phasor step_cur{cos_a[1], sin_a[1]};
    const Phasor back_cur{cos_a[2], sin_a[2]};
    std::array<double, 2 * INTERPOLATED_MAX + 2> interpolation_angle{}, interpolation_cos, interpolation_sin;
    for (std::size_t l = 1; l <= interpolated_top; ++l) {
        const double h = static_cast<double>(l);
        const double dphi = phase[l] - state.phase[l] - (w0_prev + w0) * h * FRAME_D * 0.5;
        const double dw = wrap(dphi) / FRAME_D;
        interpolation_angle[l - 1] = w0_prev * h + dw;
        interpolation_angle[INTERPOLATED_MAX + l] = (w0 - w0_prev) * h / 320.0;
    }
    if (interpolated_top > 0) {
        polar_all(interpolation_angle, 2 * INTERPOLATED_MAX + 1, interpolation_cos, interpolation_sin);
    }
    std::copy_n(phase.begin() + 1, count, angle.begin());
    std::fill_n(angle.begin() + static_cast<std::ptrdiff_t>(count), 4, 0.0);  // the last four's spare lanes
    polar_all(angle, count, cos_a, sin_a);
    Phasor r_prev{}, r_cur{}, b_cur{};
    for (std::size_t l = 1; l <= top; ++l) {
        r_prev = mul(r_prev, step_prev);
        r_cur = mul(r_cur, step_cur);
        b_cur = mul(b_cur, back_cur);
        const double h = static_cast<double>(l);
        const bool cur_voiced = l <= count && voiced[l - 1];
        const bool prev_voiced = l <= prev_count && state.voiced[l] != 0;
        const double m = l <= count ? static_cast<double>(amplitudes[l - 1]) : 0.0;
        const double m_prev = state.amplitude[l];
        // The phasor moves on in place: the previous frame's is read in this step only.
        const Phasor previous = state.phasor[l];
        if (cur_voiced) state.phasor[l] = {cos_a[l - 1], sin_a[l - 1]};
        const Phasor current = state.phasor[l];

        const auto fade_out_previous = [&] { fade_out.add(scale(previous, 2.0 * m_prev), r_prev); };
        const auto fade_in_current = [&] { fade_in.add(mul(scale(current, 2.0 * m), b_cur), r_cur); };
        if (prev_voiced && !cur_voiced) {
            fade_out_previous();
        } else if (cur_voiced && !prev_voiced) {
            fade_in_current();
        } else if (cur_voiced && prev_voiced) {
            const bool steady = !(std::abs(w0) > 1e-30 && std::abs((w0 - w0_prev) * h / w0) >= 0.1);
            if (l <= INTERPOLATED_MAX && steady) {
                // Cubic phase interpolation across the frame boundary with linear amplitude.
                interpolated.add(previous, {interpolation_cos[l - 1], interpolation_sin[l - 1]},
                                 {interpolation_cos[INTERPOLATED_MAX + l], interpolation_sin[INTERPOLATED_MAX + l]},
                                 m_prev, m);
            } else {
                fade_out_previous();
                fade_in_current();
            }
        }
    }
    interpolated.render(out);
    fade_out.render(0, FADE_OUT_END, FADE_OUT_WINDOW, out);
    fade_in.render(FADE_IN_BEGIN, FRAME, FADE_IN_WINDOW, out);

    std::copy(phase.begin() + 1, phase.end(), state.phase.begin() + 1);
    std::copy(track.begin() + 1, track.end(), state.phase_track.begin() + 1);
    for (std::size_t l = 1; l <= count; ++l) {
        state.amplitude[l] = static_cast<double>(amplitudes[l - 1]);
        state.voiced[l] = voiced[l - 1] ? 1 : 0;
    }
    std::fill(state.amplitude.begin() + 1 + static_cast<std::ptrdiff_t>(count), state.amplitude.end(), 0.0);
    std::fill(state.voiced.begin() + 1 + static_cast<std::ptrdiff_t>(count), state.voiced.end(), std::uint8_t{0});
    state.harmonic_count = static_cast<std::uint8_t>(count);
    state.omega0 = w0;
    return out;
}

}  // namespace ostrel_mbe::codecs::mbe_baseline
