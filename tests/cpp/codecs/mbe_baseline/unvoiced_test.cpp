// SPDX-License-Identifier: GPL-2.0-or-later
#include "codecs/mbe_baseline/unvoiced.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

namespace ostrel_mbe::codecs::mbe_baseline {
namespace {

// Keeps OSTREL_LCG_INIT as the test found it.
class LcgInitEnv : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* v = std::getenv("OSTREL_LCG_INIT")) saved_ = v;
        unsetenv("OSTREL_LCG_INIT");
    }
    void TearDown() override {
        if (saved_) {
            setenv("OSTREL_LCG_INIT", saved_->c_str(), 1);
        } else {
            unsetenv("OSTREL_LCG_INIT");
        }
    }
    std::optional<std::string> saved_;
};

std::vector<double> lcg_sequence(LcgParams p, std::size_t n) {
    std::vector<double> out;
    std::uint64_t x = p.state;
    for (std::size_t i = 0; i < n; ++i) {
        x = (p.multiplier * x + p.increment) % p.modulus;
        out.push_back(static_cast<double>(x));
    }
    return out;
}

TEST(NoiseGenerator, BothGeneratorsHaveFullPeriodInRange) {
    for (LcgParams p : {LCG_STANDARD, LCG_DEFAULT}) {
        LcgParams g = p;
        const std::uint32_t start = g.state;
        std::uint32_t period = 0;
        do {
            const double s = next_noise_sample(g);
            ASSERT_GE(s, 0.0);
            ASSERT_LT(s, static_cast<double>(p.modulus));
            ++period;
        } while (g.state != start && period <= p.modulus);
        EXPECT_EQ(period, p.modulus);
    }
    LcgParams g = LCG_STANDARD;
    const auto expect = lcg_sequence(LCG_STANDARD, 3);
    for (double e : expect) EXPECT_EQ(next_noise_sample(g), e);
}

struct StartCase {
    const char* value;
    std::size_t start;
};

class NoiseStartIndex : public ::testing::TestWithParam<StartCase> {};

TEST_P(NoiseStartIndex, MapsTheVariableValue) {
    EXPECT_EQ(noise_start_index(GetParam().value), GetParam().start);
}

INSTANTIATE_TEST_SUITE_P(Values, NoiseStartIndex,
                         ::testing::Values(StartCase{nullptr, 0}, StartCase{"", 0}, StartCase{"burn_160", 49},
                                           StartCase{"burn_128", 81}, StartCase{"burn_96", 113},
                                           StartCase{"burn_64", 145}, StartCase{"burn_49", 160},
                                           StartCase{"zero", 209}, StartCase{"Zero", 209}, StartCase{"ZERO", 0},
                                           StartCase{"burn_160 ", 0}, StartCase{"burn", 0}));

const std::vector<float> kUnvoicedAmps(20, 50.0f);

std::array<double, 160> run_unvoiced(NoiseState& s) {
    std::array<bool, 20> flags{};
    return synthesize_unvoiced(kUnvoicedAmps, flags, s, 0.15f, 146.643269);
}

TEST_F(LcgInitEnv, FirstCallFillsFromTheSelectedStart) {
    for (const char* value : {static_cast<const char*>(nullptr), "burn_160", "burn_64", "burn_49", "zero", "other"}) {
        if (value) {
            setenv("OSTREL_LCG_INIT", value, 1);
        } else {
            unsetenv("OSTREL_LCG_INIT");
        }
        NoiseState s;
        s.lcg = LCG_DEFAULT;
        run_unvoiced(s);
        EXPECT_TRUE(s.initialised);
        const std::size_t start = noise_start_index(value);
        const auto seq = lcg_sequence(LCG_DEFAULT, NOISE_WINDOW_LEN);
        for (std::size_t i = 0; i < NOISE_WINDOW_LEN; ++i) {
            ASSERT_EQ(s.window[i], i < start ? 0.0 : seq[i - start]) << (value ? value : "unset") << " " << i;
        }
    }
}

TEST_F(LcgInitEnv, VariableIsReadOnlyOnTheFirstCall) {
    setenv("OSTREL_LCG_INIT", "burn_64", 1);
    NoiseState s;
    run_unvoiced(s);
    const auto first = s.window;
    setenv("OSTREL_LCG_INIT", "zero", 1);
    run_unvoiced(s);
    const auto seq = lcg_sequence(LCG_STANDARD, 64 + 160);
    for (std::size_t i = 0; i < 49; ++i) EXPECT_EQ(s.window[i], first[160 + i]);
    for (std::size_t i = 49; i < NOISE_WINDOW_LEN; ++i) ASSERT_EQ(s.window[i], seq[64 + i - 49]) << i;

    // A fresh state (what a channel reset produces) reads it again.
    NoiseState fresh;
    run_unvoiced(fresh);
    for (double u : fresh.window) ASSERT_EQ(u, 0.0);
}

TEST(UnvoicedSynthesis, AllVoicedFrameHasNoNoise) {
    NoiseState s;
    const std::vector<float> amps(30, 1000.0f);
    std::array<bool, 30> voiced;
    voiced.fill(true);
    for (int frame = 0; frame < 3; ++frame) {
        const auto out = synthesize_unvoiced(amps, voiced, s, 0.1f, 146.643269);
        for (double v : out) ASSERT_EQ(v, 0.0);
    }
}

TEST(UnvoicedSynthesis, NoiseLevelIsLinearInAmplitude) {
    NoiseState a;
    NoiseState b;
    std::array<bool, 20> flags{};
    std::vector<float> double_amps(kUnvoicedAmps);
    for (float& v : double_amps) v *= 2.0f;
    double ea = 0.0;
    double eb = 0.0;
    for (int frame = 0; frame < 4; ++frame) {
        const auto out_a = synthesize_unvoiced(kUnvoicedAmps, flags, a, 0.15f, 146.643269);
        const auto out_b = synthesize_unvoiced(double_amps, flags, b, 0.15f, 146.643269);
        for (std::size_t n = 0; n < 160; ++n) {
            ASSERT_DOUBLE_EQ(out_b[n], 2.0 * out_a[n]);
            ea += out_a[n] * out_a[n];
            eb += out_b[n] * out_b[n];
        }
    }
    EXPECT_GT(ea, 0.0);
    EXPECT_NEAR(eb / ea, 4.0, 1e-9);
}

// Energy of x in the frequency range [lo, hi) radians per sample, Hann-windowed DFT.
double band_energy(const std::vector<double>& x, double lo, double hi) {
    const std::size_t n = x.size();
    double e = 0.0;
    for (std::size_t k = 1; k < n / 2; ++k) {
        const double w = 2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(n);
        if (w < lo || w >= hi) continue;
        double re = 0.0, im = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            const double phase = 2.0 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(n);
            const double win = 0.5 - 0.5 * std::cos(phase);
            re += win * x[i] * std::cos(w * static_cast<double>(i));
            im -= win * x[i] * std::sin(w * static_cast<double>(i));
        }
        e += re * re + im * im;
    }
    return e;
}

TEST(UnvoicedSynthesis, NoiseLevelFollowsTheBandAmplitude) {
    // Each bin of an unvoiced band is normalised to an RMS of scale * M, so white noise of
    // (almost) the full band has an RMS of scale * M * sqrt(bins / 256 / sum wS^2) after the
    // overlap-add, about 0.083 scale * M.
    NoiseState s;
    const std::vector<float> amps(56, 10.0f);
    std::array<bool, 56> flags{};
    double energy = 0.0;
    std::size_t samples = 0;
    for (int frame = 0; frame < 20; ++frame) {
        const auto out = synthesize_unvoiced(amps, flags, s, 0.055f, 146.643269);
        if (frame < 2) continue;
        for (double v : out) energy += v * v;
        samples += 160;
    }
    double window_energy = 0.0;
    for (int n = -105; n <= 105; ++n) {
        const double w = n >= -55 && n <= 55 ? 1.0 : (105.0 - std::abs(n)) / 50.0;
        window_energy += w * w;
    }
    const double expect = 146.643269 * 10.0 * std::sqrt(250.0 / 256.0 / window_energy);
    EXPECT_NEAR(std::sqrt(energy / static_cast<double>(samples)) / expect, 1.0, 0.1);
}

struct ShapeCase {
    float omega0;
    std::size_t count;
};

class SpectrumShape : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(SpectrumShape, IsShapedBandByBand) {
    // The frame's inverse transform is kept in the state; taking it back to the spectrum shows
    // the band structure exactly: nothing outside [a_1, b_L), nothing in voiced bands, and in
    // each unvoiced band every existing bin nonzero with a total of 2 (b_l - a_l) (scale M_l)^2.
    const auto [omega0, count] = GetParam();
    std::vector<float> amps(count);
    std::array<bool, L_HAT_MAX> voiced{};
    for (std::size_t l = 0; l < count; ++l) {
        amps[l] = 10.0f + 7.0f * static_cast<float>(l);
        voiced[l] = l % 3 == 1;
    }
    NoiseState s;
    synthesize_unvoiced(amps, std::span<const bool>(voiced.data(), count), s, omega0, 2.0);
    common::fft::Buffer<256> frame{};
    for (int n = -128; n < 128; ++n) {
        frame[static_cast<std::size_t>(n & 255)] = s.previous_idft[static_cast<std::size_t>(n + 128)];
    }
    common::fft::Buffer<256> spectrum;
    common::fft::forward_256(frame, spectrum);
    const double k = 256.0 / (2.0 * std::numbers::pi);
    auto edge = [&](double x) { return static_cast<int>(std::ceil(x * k * static_cast<double>(omega0))); };
    auto at = [&](int m) { return spectrum[static_cast<std::size_t>(m & 255)]; };
    const int first = edge(0.5);
    const int last = edge(static_cast<double>(count) + 0.5);
    for (int m = -128; m < 128; ++m) {
        if (std::abs(m) < first || std::abs(m) >= last) {
            EXPECT_NEAR(std::abs(at(m)), 0.0, 1e-9) << m;
        }
    }
    for (std::size_t l = 1; l <= count; ++l) {
        const double h = static_cast<double>(l);
        const int a = edge(h - 0.5);
        const int b = edge(h + 0.5);
        double e = 0.0;
        for (int m = a; m < b && m <= 128; ++m) {
            for (int signed_m : {m, -m}) {
                if (signed_m > 127) continue;
                e += std::norm(at(signed_m));
                if (!voiced[l - 1]) {
                    EXPECT_GT(std::abs(at(signed_m)), 1e-9) << "band " << l << " bin " << signed_m;
                }
            }
        }
        const double expect = voiced[l - 1] ? 0.0 : 2.0 * (b - a) * std::pow(2.0 * amps[l - 1], 2);
        EXPECT_NEAR(e, expect, 1e-9 * (1.0 + expect)) << "band " << l;
    }
}

INSTANTIATE_TEST_SUITE_P(Bands, SpectrumShape,
                         ::testing::Values(ShapeCase{0.2f, 15},    // a_1 = 5, b_15 = 127
                                           ShapeCase{0.24f, 13},   // the top band reaches past bin 128
                                           ShapeCase{0.05f, 56}));

TEST(UnvoicedSynthesis, NoiseStaysInTheUnvoicedBands) {
    // omega0 = 0.1, L = 30: bands 1..15 (up to 1.55 rad) voiced, 16..30 unvoiced.
    NoiseState s;
    const std::vector<float> amps(30, 100.0f);
    std::array<bool, 30> voiced{};
    for (std::size_t l = 0; l < 15; ++l) voiced[l] = true;
    std::vector<double> signal;
    for (int frame = 0; frame < 6; ++frame) {
        const auto out = synthesize_unvoiced(amps, voiced, s, 0.1f, 146.643269);
        if (frame >= 2) signal.insert(signal.end(), out.begin(), out.end());
    }
    const double low = band_energy(signal, 0.0, 1.4);
    const double high = band_energy(signal, 1.7, 3.0);
    EXPECT_GT(high, 0.0);
    EXPECT_LT(low, 0.01 * high);
}

TEST(UnvoicedSynthesis, BandsBeyondNyquistAreHandled) {
    // The reset frame's fundamental puts most of its 30 bands above the last bin.
    NoiseState s;
    const std::vector<float> amps(30, 1.0f);
    std::array<bool, 30> voiced{};
    double e = 0.0;
    for (int frame = 0; frame < 3; ++frame) {
        for (double v : synthesize_unvoiced(amps, voiced, s, 0.9375444f, 146.643269)) {
            ASSERT_TRUE(std::isfinite(v));
            e += v * v;
        }
    }
    EXPECT_GT(e, 0.0);
}

TEST(UnvoicedSynthesis, WindowedTransformOfAConstantSumsTheWindow) {
    std::array<double, NOISE_WINDOW_LEN> ones;
    ones.fill(1.0);
    common::fft::Buffer<256> spectrum;
    dft_256_windowed(ones, spectrum);
    // wS sums to the frame length, which makes the overlap-add of successive frames flat.
    EXPECT_NEAR(spectrum[0].real(), 160.0, 1e-5);
    for (const auto& c : spectrum) EXPECT_NEAR(c.imag(), 0.0, 1e-9);
    common::fft::Buffer<256> back;
    idft_256(spectrum, back);
    for (int n = -128; n < 128; ++n) {
        const double window = n >= -55 && n <= 55 ? 1.0 : (105.0 - std::abs(n)) / 50.0;
        const double expect = (n >= -104 && n <= 104) ? 256.0 * window : 0.0;
        EXPECT_NEAR(back[static_cast<std::size_t>(n & 255)].real(), expect, 1e-4) << n;
    }
}

}  // namespace
}  // namespace ostrel_mbe::codecs::mbe_baseline
