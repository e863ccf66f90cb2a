// SPDX-License-Identifier: GPL-2.0-or-later
#include "codecs/mbe_baseline/unvoiced.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <numbers>

#include "codecs/mbe_baseline/synthesis_window.h"
#include "common/check.h"

namespace ostrel_mbe::codecs::mbe_baseline {
namespace {

constexpr int FFT_LEN = static_cast<int>(UNVOICED_FFT_LEN);
constexpr int HALF_FFT = FFT_LEN / 2;
constexpr int FRAME = 160;
constexpr int CENTER = static_cast<int>(NOISE_WINDOW_CENTER);
// Bins per radian of a 256-point transform.
constexpr double BINS_PER_RADIAN = 256.0 / (2.0 * std::numbers::pi);

// Transform bin holding frequency m, m = -128..127.
constexpr std::size_t bin(int m) { return static_cast<std::size_t>(m & (FFT_LEN - 1)); }

// x <- (multiplier x + increment) mod modulus for count samples into out, the modulus
// reduction chosen once rather than per sample: a power of two (65536) is a mask, the standard's
// modulus a constant (divided by multiplication), anything else a division.
template <class Reduce>
std::uint32_t generate(const LcgParams& lcg, std::uint32_t x, double* out, std::size_t count, Reduce reduce) {
    for (std::size_t i = 0; i < count; ++i) {
        x = reduce(lcg.multiplier * x + lcg.increment);  // wraps modulo 2^32 first
        out[i] = static_cast<double>(x);
    }
    return x;
}

void generate_noise(LcgParams& lcg, double* out, std::size_t count) {
    const std::uint32_t m = lcg.modulus;
    std::uint32_t x = lcg.state;
    if (m == 0) {
        x = generate(lcg, x, out, count, [](std::uint32_t v) { return v; });
    } else if ((m & (m - 1)) == 0) {
        x = generate(lcg, x, out, count, [m](std::uint32_t v) { return v & (m - 1); });
    } else if (m == LCG_STANDARD.modulus) {
        x = generate(lcg, x, out, count, [](std::uint32_t v) { return v % LCG_STANDARD.modulus; });
    } else {
        x = generate(lcg, x, out, count, [m](std::uint32_t v) { return v % m; });
    }
    lcg.state = x;
}

void fill_noise(NoiseState& state) {
    if (state.initialised) {
        // The window advances by one frame: its last 49 samples become its first.
        constexpr std::size_t keep = NOISE_WINDOW_LEN - FRAME;
        std::copy(state.window.begin() + FRAME, state.window.end(), state.window.begin());
        generate_noise(state.lcg, state.window.data() + keep, NOISE_WINDOW_LEN - keep);
        return;
    }
    // First frame after construction or reset: the generator's burn-in is selectable from the
    // environment so that the noise sequence can be aligned for comparison runs.
    const std::size_t start = noise_start_index(std::getenv("OSTREL_LCG_INIT"));
    if (start < NOISE_WINDOW_LEN) generate_noise(state.lcg, state.window.data() + start, NOISE_WINDOW_LEN - start);
    state.initialised = true;
}

}  // namespace

double next_noise_sample(LcgParams& lcg) {
    double sample = 0.0;
    generate_noise(lcg, &sample, 1);
    return sample;
}

std::size_t noise_start_index(const char* value) {
    if (value == nullptr) return 0;
    struct Choice {
        const char* text;
        std::size_t start;
    };
    static constexpr Choice choices[] = {
        {"burn_160", 49}, {"burn_128", 81}, {"burn_96", 113}, {"burn_64", 145},
        {"burn_49", 160}, {"zero", NOISE_WINDOW_LEN}, {"Zero", NOISE_WINDOW_LEN},
    };
    for (const Choice& c : choices) {
        if (std::strcmp(value, c.text) == 0) return c.start;
    }
    return 0;
}

void dft_256_windowed(std::span<const double, NOISE_WINDOW_LEN> noise, common::fft::Buffer<256>& spectrum) {
    common::fft::Buffer<256> input{};
    for (int n = -CENTER; n <= CENTER; ++n) {
        input[bin(n)] = {noise[static_cast<std::size_t>(n + CENTER)] * synthesis_window(n), 0.0};
    }
    common::fft::forward_256(input, spectrum);
}

void idft_256(const common::fft::Buffer<256>& spectrum, common::fft::Buffer<256>& signal) {
    common::fft::inverse_256(spectrum, signal);
}

std::array<double, 160> synthesize_unvoiced(std::span<const float> amplitudes, std::span<const bool> voiced,
                                            NoiseState& state, float omega0, double unvoiced_scale) {
    OSTREL_CHECK(amplitudes.size() <= L_HAT_MAX, "harmonic count is at most L_HAT_MAX");
    OSTREL_CHECK(voiced.size() == amplitudes.size(), "voicing and amplitude slices have equal length");
    OSTREL_CHECK(omega0 > 0.0f && omega0 < std::numbers::pi_v<float>, "fundamental inside (0, pi)");
    const std::size_t count = amplitudes.size();

    fill_noise(state);
    std::array<double, UNVOICED_FFT_LEN> current{};
    // With every band voiced the shaped spectrum is all zeros and so is its transform.
    if (std::find(voiced.begin(), voiced.end(), false) != voiced.end()) {
        // The windowed noise is real, so bins -k are the conjugates of bins k: the transform keeps
        // bins 0..128, and scaling bin k stands for scaling k and -k alike.
        common::fft::RealBuffer<256> input{};
        for (int n = -CENTER; n <= CENTER; ++n) {
            input[bin(n)] = state.window[static_cast<std::size_t>(n + CENTER)] * synthesis_window(n);
        }
        common::fft::HalfSpectrum<256> spectrum;
        common::fft::forward_real_256(input, spectrum);

        // Band l covers bins [a_l, b_l) on both sides of zero.  Edges past the transform length
        // are legitimate (high fundamentals put the upper bands above the Nyquist bin); such bins
        // do not exist and are skipped.
        const double w0 = omega0;
        std::array<std::int32_t, L_HAT_MAX + 1> lower{};
        std::array<std::int32_t, L_HAT_MAX + 1> upper{};
        for (std::size_t l = 1; l <= count; ++l) {
            const double h = static_cast<double>(l);
            lower[l] = static_cast<std::int32_t>(std::ceil((h - 0.5) * BINS_PER_RADIAN * w0));
            upper[l] = static_cast<std::int32_t>(std::ceil((h + 0.5) * BINS_PER_RADIAN * w0));
        }
        const std::int32_t first = count > 0 ? lower[1] : 0;
        const std::int32_t last = count > 0 ? upper[count] : 0;
        for (int m = 0; m <= HALF_FFT; ++m) {
            if (m < first || m >= last) spectrum[static_cast<std::size_t>(m)] = 0.0;
        }

        for (std::size_t l = 1; l <= count; ++l) {
            const std::int32_t band_end = std::min<std::int32_t>(upper[l], HALF_FFT + 1);
            double energy = 0.0;
            for (std::int32_t m = lower[l]; m < band_end; ++m) {
                const double power = std::norm(spectrum[static_cast<std::size_t>(m)]);
                if (m < HALF_FFT) energy += power;  // bin m, and below its mirror -m
                energy += power;
            }
            double gain = 1.0;
            if (upper[l] > lower[l] && energy > 0.0) {
                gain = std::sqrt(energy / (2.0 * static_cast<double>(upper[l] - lower[l])));
            }
            const double factor = voiced[l - 1] ? 0.0 : unvoiced_scale * amplitudes[l - 1] / gain;
            for (std::int32_t m = lower[l]; m < band_end; ++m) spectrum[static_cast<std::size_t>(m)] *= factor;
        }

        common::fft::RealBuffer<256> signal;
        common::fft::inverse_real_256(spectrum, signal);
        for (int n = -HALF_FFT; n < HALF_FFT; ++n) {
            current[static_cast<std::size_t>(n + HALF_FFT)] = signal[bin(n)] / 256.0;
        }
    }

    // Weighted overlap-add of the previous frame's tail (window centred on n = 0) and the current
    // frame's head (window centred on n = 160).
    std::array<double, 160> out{};
    for (int n = 0; n < FRAME; ++n) {
        const double w_prev = synthesis_window(n);
        const double w_cur = synthesis_window(n - FRAME);
        double num = 0.0;
        if (w_prev != 0.0) num += w_prev * state.previous_idft[static_cast<std::size_t>(n + HALF_FFT)];
        if (w_cur != 0.0) num += w_cur * current[static_cast<std::size_t>(n - FRAME + HALF_FFT)];
        const double den = w_prev * w_prev + w_cur * w_cur;
        out[static_cast<std::size_t>(n)] = den > 1e-30 ? num / den : 0.0;
    }
    state.previous_idft = current;
    return out;
}

}  // namespace ostrel_mbe::codecs::mbe_baseline
