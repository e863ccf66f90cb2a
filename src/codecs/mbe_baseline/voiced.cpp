#include "codecs/mbe_baseline/voiced.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "codecs/mbe_baseline/phase_regen.h"
#include "codecs/mbe_baseline/synthesis_window.h"
#include "common/check.h"

namespace ostrel_mbe::codecs::mbe_baseline {
namespace {

constexpr int FRAME = 160;
constexpr double FRAME_D = 160.0;
constexpr double PI = std::numbers::pi;
constexpr double TWO_PI = 2.0 * PI;

// The sample loops run over blocks of LANES consecutive samples, each lane its own recurrence,
// so that the compiler keeps several independent chains in SIMD registers.
constexpr int LANES = 8;
// A fading-out sinusoid is windowed by wS(n), zero from n = 105 on: 14 blocks cover it.  A
// fading-in one is windowed by wS(n - 160), zero up to n = 55: 13 blocks from n = 56.
constexpr int FADE_OUT_END = 112;
constexpr int FADE_IN_BEGIN = 56;

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
static_assert(FADE_OUT_WINDOW[FADE_OUT_END - LANES] != 0.0 && FADE_OUT_WINDOW[105] == 0.0);
static_assert(FADE_IN_WINDOW[FADE_IN_BEGIN - 1] == 0.0 && FADE_IN_WINDOW[FADE_IN_BEGIN] != 0.0);
static_assert(FADE_OUT_END % LANES == 0 && (FRAME - FADE_IN_BEGIN) % LANES == 0);

Phasor mul(Phasor a, Phasor b) { return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re}; }
Phasor scale(Phasor a, double k) { return {a.re * k, a.im * k}; }
Phasor polar(double angle) { return {std::cos(angle), std::sin(angle)}; }
Phasor power(Phasor r, unsigned k) {
    Phasor result{};
    while (k != 0) {
        if ((k & 1u) != 0) result = mul(result, r);
        r = mul(r, r);
        k >>= 1;
    }
    return result;
}

// Eight samples, one per lane: GCC's vector extension maps it onto whatever SIMD registers the
// target has, in the same operation order on every target.
using Lanes = double __attribute__((vector_size(LANES * sizeof(double))));

// p[j] += v[j] for the eight lanes (passed by reference: a by-value vector wider than the
// target's registers would have a target-dependent calling convention).
void accumulate(double* p, const Lanes& v) {
    Lanes sum;
    std::memcpy(&sum, p, sizeof sum);
    sum += v;
    std::memcpy(p, &sum, sizeof sum);
}

// sum[n] += Re(z r^(n - first + 8)) for n = first..end-1, z = A e^{i phase(first - 8)} and r the
// rotation of one sample: a sinusoid by the three-term recurrence x(n + 8) = 2 cos(8 w) x(n) -
// x(n - 8), eight samples per lane step.
void add_sinusoid(std::array<double, FRAME>& sum, int first, int end, Phasor z, Phasor r) {
    Lanes before{};
    Lanes now{};
    for (int j = 0; j < LANES; ++j) {
        before[j] = z.re;
        z = mul(z, r);
    }
    for (int j = 0; j < LANES; ++j) {
        now[j] = z.re;
        z = mul(z, r);
    }
    const double k = 2.0 * power(r, LANES).re;
    for (int n = first; n < end; n += LANES) {
        accumulate(sum.data() + n, now);
        const Lanes next = k * now - before;
        before = now;
        now = next;
    }
}

// out[n] += 2 (m_prev + (n / 160)(m - m_prev)) cos(theta(n)), n = 0..159, for the phase
// theta(n) = phi + b n + c n^2 with start = e^{i phi}.  Each lane follows its own sample of
// every block: e^{i theta} advances by e^{i (theta(n + 8) - theta(n))}, which itself turns by
// e^{i 128 c} per block.
void add_interpolated(std::array<double, FRAME>& out, Phasor start, double b, double c, double m_prev, double m) {
    const Phasor eb = polar(b);
    const Phasor ec = polar(c);
    Lanes zr{}, zi{}, dr{}, di{}, nd{};
    Phasor z = start;
    Phasor step = mul(eb, ec);  // e^{i (theta(1) - theta(0))}
    const Phasor e2c = mul(ec, ec);
    for (int j = 0; j < LANES; ++j) {
        zr[j] = z.re;
        zi[j] = z.im;
        z = mul(z, step);
        step = mul(step, e2c);
        nd[j] = static_cast<double>(j);
    }
    const Phasor e16c = power(ec, 16);
    Phasor d = mul(power(eb, 8), power(e16c, 4));  // e^{i (8 b + 64 c)}
    for (int j = 0; j < LANES; ++j) {
        dr[j] = d.re;
        di[j] = d.im;
        d = mul(d, e16c);
    }
    const Phasor q = power(e16c, 8);  // e^{i 128 c}
    const double slope = (m - m_prev) / FRAME_D;
    for (int n0 = 0; n0 < FRAME; n0 += LANES) {
        accumulate(out.data() + n0, 2.0 * (m_prev + nd * slope) * zr);
        const Lanes r = zr * dr - zi * di;
        zi = zr * di + zi * dr;
        zr = r;
        const Lanes s = dr * q.re - di * q.im;
        di = dr * q.im + di * q.re;
        dr = s;
        nd += static_cast<double>(LANES);
    }
}

// x - 2 pi k in [-pi, pi).
double wrap(double x) { return x - TWO_PI * std::floor((x + PI) / TWO_PI); }

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
        track[l] = wrap(state.phase_track[l] + (w0_prev + w0) * static_cast<double>(l) * FRAME_D * 0.5);
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

    // Fading sinusoids are summed per side and windowed once; the interpolated ones go straight
    // to the output.  Harmonic rotations come from powers of the fundamental's.
    std::array<double, FRAME> fade_out{};
    std::array<double, FRAME> fade_in{};
    std::array<double, FRAME> out{};
    const Phasor step_prev = polar(w0_prev);
    const Phasor step_cur = polar(w0);
    const Phasor back_prev = polar(-LANES * w0_prev);                       // to n = -8
    const Phasor back_cur = polar(-(FRAME - FADE_IN_BEGIN + LANES) * w0);  // from n = 160 to 48
    Phasor r_prev{}, r_cur{}, b_prev{}, b_cur{};
    std::array<Phasor, L_HAT_MAX + 1> phasor = state.phasor;
    const std::size_t top = std::max(prev_count, count);
    for (std::size_t l = 1; l <= top; ++l) {
        r_prev = mul(r_prev, step_prev);
        r_cur = mul(r_cur, step_cur);
        b_prev = mul(b_prev, back_prev);
        b_cur = mul(b_cur, back_cur);
        const double h = static_cast<double>(l);
        const bool cur_voiced = l <= count && voiced[l - 1];
        const bool prev_voiced = l <= prev_count && state.voiced[l] != 0;
        const double m = l <= count ? static_cast<double>(amplitudes[l - 1]) : 0.0;
        const double m_prev = state.amplitude[l];
        if (cur_voiced) phasor[l] = polar(phase[l]);

        const auto fade_out_previous = [&] {
            add_sinusoid(fade_out, 0, FADE_OUT_END, mul(scale(state.phasor[l], 2.0 * m_prev), b_prev), r_prev);
        };
        const auto fade_in_current = [&] {
            add_sinusoid(fade_in, FADE_IN_BEGIN, FRAME, mul(scale(phasor[l], 2.0 * m), b_cur), r_cur);
        };
        if (prev_voiced && !cur_voiced) {
            fade_out_previous();
        } else if (cur_voiced && !prev_voiced) {
            fade_in_current();
        } else if (cur_voiced && prev_voiced) {
            const bool steady = !(std::abs(w0) > 1e-30 && std::abs((w0 - w0_prev) * h / w0) >= 0.1);
            if (l <= 7 && steady) {
                // Cubic phase interpolation across the frame boundary with linear amplitude.
                const double dphi = phase[l] - state.phase[l] - (w0_prev + w0) * h * FRAME_D * 0.5;
                const double dw = wrap(dphi) / FRAME_D;
                add_interpolated(out, state.phasor[l], w0_prev * h + dw, (w0 - w0_prev) * h / 320.0, m_prev, m);
            } else {
                fade_out_previous();
                fade_in_current();
            }
        }
    }
    for (std::size_t n = 0; n < FRAME; ++n) out[n] += FADE_OUT_WINDOW[n] * fade_out[n] + FADE_IN_WINDOW[n] * fade_in[n];

    for (std::size_t l = 1; l <= L_HAT_MAX; ++l) {
        state.phase[l] = phase[l];
        state.phase_track[l] = track[l];
        state.amplitude[l] = l <= count ? static_cast<double>(amplitudes[l - 1]) : 0.0;
        state.voiced[l] = l <= count && voiced[l - 1] ? 1 : 0;
    }
    state.phasor = phasor;
    state.harmonic_count = static_cast<std::uint8_t>(count);
    state.omega0 = w0;
    return out;
}

}  // namespace ostrel_mbe::codecs::mbe_baseline
