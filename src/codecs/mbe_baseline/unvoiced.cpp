// SPDX-License-Identifier: GPL-2.0-or-later
#include "codecs/mbe_baseline/unvoiced.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numbers>

#include "codecs/mbe_baseline/synthesis_window.h"
#include "common/check.h"
#include "common/simd.h"

namespace ostrel_mbe::codecs::mbe_baseline {
namespace {

constexpr int FFT_LEN = static_cast<int>(UNVOICED_FFT_LEN);
constexpr int HALF_FFT = FFT_LEN / 2;
constexpr int FRAME = 160;
constexpr int CENTER = static_cast<int>(NOISE_WINDOW_CENTER);
// Bins per radian of a 256-point transform.
constexpr double BINS_PER_RADIAN = 256.0 / (2.0 * std::numbers::pi);

// Per sample n = 0..159 of the overlap-add: the previous frame's window wS(n), the current
// frame's wS(n - 160), and the sum of their squares (which no sample leaves at zero).
struct OverlapWeights {
    std::array<double, FRAME> previous{}, current{}, denominator{};
};
constexpr OverlapWeights OVERLAP = [] {
    OverlapWeights w;
    for (int n = 0; n < FRAME; ++n) {
        const auto i = static_cast<std::size_t>(n);
        w.previous[i] = synthesis_window(n);
        w.current[i] = synthesis_window(n - FRAME);
        w.denominator[i] = w.previous[i] * w.previous[i] + w.current[i] * w.current[i];
    }
    return w;
}();
static_assert(std::ranges::all_of(OVERLAP.denominator, [](double d) { return d > 1e-30; }));

// Transform bin holding frequency m, m = -128..127.
constexpr std::size_t bin(int m) { return static_cast<std::size_t>(m & (FFT_LEN - 1)); }

// x <- (multiplier x + increment) mod modulus for count samples into out, the modulus
// reduction chosen once rather than per sample: a power of two (65536) is a mask, the standard's
// modulus a constant (divided by multiplication), anything else a division.
template <class Reduce>
[[gnu::always_inline]] inline std::uint32_t generate(const LcgParams& lcg, std::uint32_t x, double* out, std::size_t count, Reduce reduce) {
    for (std::size_t i = 0; i < count; ++i) {
        x = reduce(lcg.multiplier * x + lcg.increment);  // wraps modulo 2^32 first
        out[i] = static_cast<double>(x);
    }
    return x;
}

// The same sequence as generate, as eight interleaved chains in one vector of 32-bit lanes that
// the processor steps together: eight steps of the generator are one step
// x <- (A x + C) mod modulus.  Exact in 32 bits: for the standard's modulus (STANDARD) A and C
// are below it, so A x + C < 53125^2 + 53125 < 2^32; modulo a power of two (mask = modulus - 1)
// the wrap modulo 2^32 commutes with the step.
constexpr std::size_t CHAINS = 8;
using Chains = std::uint32_t __attribute__((vector_size(CHAINS * sizeof(std::uint32_t))));
using ChainValues = std::int32_t __attribute__((vector_size(CHAINS * sizeof(std::int32_t))));
using ChainSamples = double __attribute__((vector_size(CHAINS * sizeof(double))));

template <bool STANDARD>
[[gnu::always_inline]] inline std::uint32_t generate_interleaved(const LcgParams& lcg, std::uint32_t x, double* out, std::size_t count,
                                   std::uint32_t jump_a, std::uint32_t jump_c, std::uint32_t mask) {
    const auto reduce = [mask](std::uint32_t v) { return STANDARD ? v % LCG_STANDARD.modulus : v & mask; };
    if (count < 2 * CHAINS) return generate(lcg, x, out, count, reduce);
    Chains chain;
    for (std::size_t j = 0; j < CHAINS; ++j) {
        x = reduce(lcg.multiplier * x + lcg.increment);
        chain[j] = x;
        out[j] = static_cast<double>(x);
    }
    // (Vectors by reference: a vector argument or result would change the baseline build's ABI.)
    const auto step = [=](Chains& v, std::uint32_t a, std::uint32_t c) {
        v = a * v + c;
        if constexpr (STANDARD) {
            v = v % LCG_STANDARD.modulus;
        } else {
            v = v & mask;
        }
    };
    // Every state is below 2^31 (a modulus of 2^32 never takes this path), so the signed
    // conversion gives the same doubles.
    const auto store = [out](std::size_t at, const Chains& v) {
        const ChainSamples samples = __builtin_convertvector(__builtin_convertvector(v, ChainValues), ChainSamples);
        std::memcpy(out + at, &samples, sizeof samples);
    };
    std::size_t i = CHAINS;
    // Two vectors sixteen steps apart each time, so that two of the multiplications' latencies
    // overlap: the sixteen-step jump is the eight-step one twice, composed exactly as above.
    if (i + 2 * CHAINS <= count) {
        const std::uint32_t jump2_a = reduce(jump_a * jump_a);
        const std::uint32_t jump2_c = reduce(jump_a * jump_c + jump_c);
        Chains later = chain;
        step(later, jump_a, jump_c);
        store(i, later);
        i += CHAINS;
        for (; i + 2 * CHAINS <= count; i += 2 * CHAINS) {
            step(chain, jump2_a, jump2_c);
            step(later, jump2_a, jump2_c);
            store(i, chain);
            store(i + CHAINS, later);
        }
        chain = later;
    }
    for (; i + CHAINS <= count; i += CHAINS) {
        step(chain, jump_a, jump_c);
        store(i, chain);
    }
    return generate(lcg, chain[CHAINS - 1], out + i, count - i, reduce);
}

// Built twice, for AVX2 and for the baseline instruction set: the chains fill one 256-bit
// register where the processor has them.
OSTREL_AVX2_CLONES
void generate_noise(LcgParams& lcg, double* out, std::size_t count) {
    const std::uint32_t m = lcg.modulus;
    const std::uint32_t a = lcg.multiplier;
    const std::uint32_t c = lcg.increment;
    std::uint32_t x = lcg.state;
    if (m != 0 && (m & (m - 1)) == 0) {
        // Modulo a power of two A and C wrap modulo 2^32 too.
        std::uint32_t jump_a = 1;
        std::uint32_t jump_c = 0;
        for (std::size_t j = 0; j < CHAINS; ++j) jump_c = a * jump_c + c, jump_a *= a;
        x = generate_interleaved<false>(lcg, x, out, count, jump_a, jump_c, m - 1);
    } else if (m == LCG_STANDARD.modulus && static_cast<std::uint64_t>(a) * (m - 1) + c < (std::uint64_t{1} << 32)) {
        // No step wraps modulo 2^32, so the steps compose exactly modulo m.
        std::uint64_t jump_a = 1;
        std::uint64_t jump_c = 0;
        for (std::size_t j = 0; j < CHAINS; ++j) jump_c = (a * jump_c + c) % m, jump_a = jump_a * a % m;
        x = generate_interleaved<true>(lcg, x, out, count, static_cast<std::uint32_t>(jump_a),
                                       static_cast<std::uint32_t>(jump_c), 0);
    } else {
        // The full 32-bit range (m = 0) or another modulus: sample by sample.
        x = generate(lcg, x, out, count, [m](std::uint32_t v) { return m == 0 ? v : v % m; });
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
    // First frame after construction or reset: the generator's burn-in is selectable (through
    // the channel, from the environment) so that the noise sequence can be aligned for
    // comparison runs.
    if (state.start < NOISE_WINDOW_LEN) {
        generate_noise(state.lcg, state.window.data() + state.start, NOISE_WINDOW_LEN - state.start);
    }
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

// Built twice, for AVX2 and for the baseline instruction set: the windowing and the overlap-add
// run four lanes wide where the processor has them, the same operations in the same order.
OSTREL_AVX2_CLONES
std::array<double, 160> synthesize_unvoiced(std::span<const float> amplitudes, std::span<const bool> voiced,
                                            NoiseState& state, float omega0, double unvoiced_scale) {
    OSTREL_CHECK(amplitudes.size() <= L_HAT_MAX, "harmonic count is at most L_HAT_MAX");
    OSTREL_CHECK(voiced.size() == amplitudes.size(), "voicing and amplitude slices have equal length");
    OSTREL_CHECK(omega0 > 0.0f && omega0 < std::numbers::pi_v<float>, "fundamental inside (0, pi)");
    const std::size_t count = amplitudes.size();

    fill_noise(state);
    // Weighted overlap-add of the previous frame's tail (window centred on n = 0) and the current
    // frame's head (window centred on n = 160), each over the samples its window reaches, which
    // are also the ones its 256 transform samples cover.  Three ranges, so that the loops have no
    // branches: the tail alone, both, the head alone.  The tail is taken first, while the state
    // still holds the previous transform: the current one then goes straight into the state.
    std::array<double, 160> out;
    const auto tail = [&](int n) {
        return OVERLAP.previous[n] * state.previous_idft[static_cast<std::size_t>(n + HALF_FFT)];
    };
    for (int n = 0; n < FADE_IN_BEGIN; ++n) out[n] = (0.0 + tail(n)) / OVERLAP.denominator[n];
    for (int n = FADE_IN_BEGIN; n < FADE_OUT_END; ++n) out[n] = 0.0 + tail(n);

    std::array<double, UNVOICED_FFT_LEN>& current = state.previous_idft;
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
    } else {
        current.fill(0.0);
    }

    const auto head = [&](int n) {
        return OVERLAP.current[n] * current[static_cast<std::size_t>(n - FRAME + HALF_FFT)];
    };
    for (int n = FADE_IN_BEGIN; n < FADE_OUT_END; ++n) out[n] = (out[n] + head(n)) / OVERLAP.denominator[n];
    for (int n = FADE_OUT_END; n < FRAME; ++n) out[n] = (0.0 + head(n)) / OVERLAP.denominator[n];
    return out;
}

}  // namespace ostrel_mbe::codecs::mbe_baseline
