// SPDX-License-Identifier: GPL-2.0-or-later
#include "codecs/mbe_baseline/enhance.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include "codecs/mbe_baseline/enhance_reference.h"

namespace ostrel_mbe::codecs::mbe_baseline {
namespace {

std::vector<float> random_amplitudes(std::mt19937& rng, std::size_t count) {
    std::uniform_real_distribution<float> dist(1.0f, 4000.0f);
    std::vector<float> a(count);
    for (float& v : a) v = dist(rng);
    return a;
}

double energy(std::span<const float> a) {
    double e = 0.0;
    for (float v : a) e += static_cast<double>(v) * v;
    return e;
}

TEST(SpectralEnhancement, LowerHarmonicsKeepTheirShapeEnergyIsPreservedWeightsBounded) {
    const unsigned seed = 7341;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    for (std::size_t count = 1; count <= L_HAT_MAX; ++count) {
        for (int trial = 0; trial < 5; ++trial) {
            const auto amps = random_amplitudes(rng, count);
            const float omega0 = std::uniform_real_distribution<float>(0.05f, 3.0f)(rng) / static_cast<float>(count);
            const auto out = enhance_spectral_amplitudes(amps, omega0, SMOOTHED_ENERGY_RESET);
            const std::span<const float> enhanced(out.amplitudes.data(), count);
            ASSERT_NEAR(energy(enhanced) / energy(amps), 1.0, 1e-5) << "L " << count;
            // Every amplitude is scaled by (0.5 .. 1.2) times one common energy correction c;
            // the untouched low harmonics reveal c.
            const std::size_t untouched = count / 8;
            const double c = untouched > 0 ? enhanced[0] / amps[0] : 0.0;
            for (std::size_t l = 1; l <= count; ++l) {
                const double ratio = enhanced[l - 1] / amps[l - 1];
                if (l <= untouched) {
                    ASSERT_NEAR(ratio, c, 1e-5 * c) << "L " << count << " l " << l;
                } else if (untouched > 0) {
                    ASSERT_GE(ratio, 0.5 * c * (1 - 1e-5)) << "L " << count << " l " << l;
                    ASSERT_LE(ratio, 1.2 * c * (1 + 1e-5)) << "L " << count << " l " << l;
                }
            }
            for (std::size_t l = count; l < L_HAT_MAX; ++l) ASSERT_EQ(out.amplitudes[l], 0.0f);
        }
    }
}

TEST(SpectralEnhancement, DominantLowHarmonicsStillWeightTheRest) {
    // L = 16: harmonics 1 and 2 are left alone; the upper ones are weighted even though the
    // lower ones carry nearly all the energy.
    std::vector<float> amps(16, 10.0f);
    amps[0] = 5000.0f;
    amps[1] = 4000.0f;
    const auto out = enhance_spectral_amplitudes(amps, 0.19f, SMOOTHED_ENERGY_RESET);
    const double c = out.amplitudes[0] / amps[0];
    EXPECT_NEAR(out.amplitudes[1] / amps[1], c, 1e-6);
    bool weighted = false;
    for (std::size_t l = 3; l <= 16; ++l) weighted |= std::abs(out.amplitudes[l - 1] / amps[l - 1] - c) > 1e-3;
    EXPECT_TRUE(weighted);

    // L < 8 leaves no harmonic out: with unequal shape the ratios differ from harmonic 1 on.
    const std::vector<float> small = {0.05f, 1.5f, 0.3f, 0.8f, 0.02f, 0.6f, 0.1f};
    const auto out_small = enhance_spectral_amplitudes(small, 0.4f, SMOOTHED_ENERGY_RESET);
    bool differs = false;
    for (std::size_t l = 2; l <= small.size(); ++l) {
        differs |= std::abs(out_small.amplitudes[l - 1] / small[l - 1] - out_small.amplitudes[0] / small[0]) > 1e-3;
    }
    EXPECT_TRUE(differs);
}

TEST(SpectralEnhancement, WeightFollowsTheNonPiFormula) {
    // Independent evaluation of W_l = sqrt(M_l) (0.96 Q / (R0 w0 (R0 - R1)))^(1/4) on a case whose
    // weights fall inside (0.5, 1.2) for the upper harmonics.
    const std::vector<float> amps = {1.0f, 1.2f, 0.9f, 1.1f, 1.0f, 0.8f, 1.3f, 1.0f, 0.95f, 1.05f};
    const double w0 = 0.3f;
    double r0 = 0, r1 = 0;
    for (std::size_t l = 1; l <= amps.size(); ++l) {
        r0 += amps[l - 1] * static_cast<double>(amps[l - 1]);
        r1 += amps[l - 1] * static_cast<double>(amps[l - 1]) * std::cos(w0 * static_cast<double>(l));
    }
    std::vector<double> expect(amps.size());
    double s2 = 0;
    for (std::size_t l = 1; l <= amps.size(); ++l) {
        const double m = amps[l - 1];
        double v = m;
        if (8 * l > amps.size()) {
            const double q = r0 * r0 + r1 * r1 - 2 * r0 * r1 * std::cos(w0 * static_cast<double>(l));
            const double w = std::sqrt(m) * std::pow(0.96 * q / (r0 * w0 * (r0 - r1)), 0.25);
            v = w > 1.2 ? 1.2 * m : (w < 0.5 ? 0.5 * m : w * m);
        }
        expect[l - 1] = v;
        s2 += v * v;
    }
    const auto out = enhance_spectral_amplitudes(amps, 0.3f, SMOOTHED_ENERGY_RESET);
    for (std::size_t l = 0; l < amps.size(); ++l) {
        EXPECT_FLOAT_EQ(out.amplitudes[l], static_cast<float>(expect[l] * std::sqrt(r0 / s2))) << l;
    }
    EXPECT_DOUBLE_EQ(out.smoothed_energy, 0.95 * SMOOTHED_ENERGY_RESET + 0.05 * r0);
}

TEST(SpectralEnhancement, SilencePassesUnchangedAndEnergyDecaysToTheFloor) {
    const std::vector<float> zeros(20, 0.0f);
    double se = SMOOTHED_ENERGY_RESET;
    for (int frame = 0; frame < 200; ++frame) {
        const auto out = enhance_spectral_amplitudes(zeros, 0.2f, se);
        for (float a : out.amplitudes) ASSERT_EQ(a, 0.0f);
        ASSERT_LE(out.smoothed_energy, se);
        se = out.smoothed_energy;
    }
    EXPECT_EQ(se, SMOOTHED_ENERGY_FLOOR);
    EXPECT_EQ(enhance_spectral_amplitudes({}, 0.2f, 20000.0).smoothed_energy, 19000.0);
}

// A formant-shaped spectrum of L harmonics with deep valleys, so that the standard's weights
// reach both clamps and the range between.
std::vector<float> formant_spectrum(std::mt19937& rng, std::size_t count, float omega0) {
    std::uniform_real_distribution<double> centre(0.4, 2.8), jitter(0.6, 1.4);
    const double c1 = centre(rng), c2 = centre(rng);
    std::vector<float> a(count);
    for (std::size_t l = 1; l <= count; ++l) {
        const double f = omega0 * static_cast<double>(l);
        const double x1 = (f - c1) / 0.15, x2 = (f - c2) / 0.25;
        a[l - 1] = static_cast<float>((0.01 + 1.0 / (1 + x1 * x1) + 0.5 / (1 + x2 * x2)) * jitter(rng));
    }
    return a;
}

std::span<const float> first(const EnhancedAmplitudes& out, std::size_t count) {
    return std::span<const float>(out.amplitudes.data(), count);
}

TEST(SpectralEnhancement, StandardWeightingIsScaleFree) {
    const unsigned seed = 5519;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    for (std::size_t count : {9u, 16u, 23u, 40u, 56u}) {
        const float omega0 = static_cast<float>(2.9 / static_cast<double>(count));
        const auto base = formant_spectrum(rng, count, omega0);
        const auto ref = enhance_spectral_amplitudes(base, omega0, SMOOTHED_ENERGY_RESET, FormantWeighting::Standard);
        // Powers of two scale every amplitude exactly, so the output scales exactly; other
        // factors round the inputs, so the output follows to float precision.
        for (double scale : {0x1p-40, 0x1p-12, 0x1p7, 0x1p30, 1e-3, 0.37, 41.3, 2.5e4, 7e8}) {
            std::vector<float> scaled(count);
            for (std::size_t l = 0; l < count; ++l) scaled[l] = static_cast<float>(base[l] * scale);
            const auto out = enhance_spectral_amplitudes(scaled, omega0, SMOOTHED_ENERGY_RESET,
                                                         FormantWeighting::Standard);
            const bool exact = std::exp2(std::round(std::log2(scale))) == scale;
            for (std::size_t l = 0; l < count; ++l) {
                const double expect = ref.amplitudes[l] * scale;
                if (exact) {
                    ASSERT_EQ(out.amplitudes[l], static_cast<float>(expect)) << "L " << count << " x" << scale;
                } else {
                    ASSERT_NEAR(out.amplitudes[l], expect, 2e-6 * expect) << "L " << count << " x" << scale;
                }
            }
        }
        // The long-standing form is not: at a thousand times the level its weights differ.
        std::vector<float> loud(count);
        for (std::size_t l = 0; l < count; ++l) loud[l] = base[l] * 1024.0f;
        const auto compat = enhance_spectral_amplitudes(base, omega0, SMOOTHED_ENERGY_RESET);
        const auto compat_loud = enhance_spectral_amplitudes(loud, omega0, SMOOTHED_ENERGY_RESET);
        bool differs = false;
        for (std::size_t l = 0; l < count; ++l) differs |= compat_loud.amplitudes[l] != compat.amplitudes[l] * 1024.0f;
        EXPECT_TRUE(differs) << "L " << count;
    }
}

TEST(SpectralEnhancement, StandardWeightFollowsTheFormulaReachesBothClampsKeepsEnergy) {
    // Independent evaluation of W_l = sqrt(M_l) (0.96 pi Q / (R0 w0 (R0^2 - R1^2)))^(1/4), clamped
    // to [0.5, 1.2], lower eighth untouched, then scaled back to the input energy.
    const unsigned seed = 2207;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    int low_clamps = 0, high_clamps = 0, inside = 0;
    for (std::size_t count : {7u, 12u, 20u, 33u, 56u}) {
        for (double level : {0.02, 1.0, 3000.0}) {
            const float omega0 = static_cast<float>(2.9 / static_cast<double>(count));
            auto amps = formant_spectrum(rng, count, omega0);
            for (float& a : amps) a = static_cast<float>(a * level);
            const double w0 = omega0;
            double r0 = 0, r1 = 0;
            for (std::size_t l = 1; l <= count; ++l) {
                const double m2 = static_cast<double>(amps[l - 1]) * amps[l - 1];
                r0 += m2;
                r1 += m2 * std::cos(w0 * static_cast<double>(l));
            }
            std::vector<double> expect(count);
            double s2 = 0;
            for (std::size_t l = 1; l <= count; ++l) {
                const double m = amps[l - 1];
                double v = m;
                if (8 * l > count) {
                    const double q = r0 * r0 + r1 * r1 - 2 * r0 * r1 * std::cos(w0 * static_cast<double>(l));
                    const double w = std::sqrt(m) * std::pow(0.96 * std::numbers::pi * q /
                                                              (r0 * w0 * (r0 * r0 - r1 * r1)), 0.25);
                    v = w > 1.2 ? 1.2 * m : (w < 0.5 ? 0.5 * m : w * m);
                    low_clamps += w < 0.5;
                    high_clamps += w > 1.2;
                    inside += w >= 0.5 && w <= 1.2;
                }
                expect[l - 1] = v;
                s2 += v * v;
            }
            const auto out = enhance_spectral_amplitudes(amps, omega0, SMOOTHED_ENERGY_RESET, FormantWeighting::Standard);
            for (std::size_t l = 0; l < count; ++l) {
                const double e = expect[l] * std::sqrt(r0 / s2);
                ASSERT_NEAR(out.amplitudes[l], e, 1e-6 * e) << "L " << count << " level " << level << " l " << l + 1;
            }
            EXPECT_NEAR(energy(first(out, count)) / r0, 1.0, 1e-6);
            EXPECT_DOUBLE_EQ(out.smoothed_energy, 0.95 * SMOOTHED_ENERGY_RESET + 0.05 * r0);
        }
    }
    // Every branch of the clamp is exercised, at every level (the weights are level-free).
    EXPECT_GT(low_clamps, 0);
    EXPECT_GT(high_clamps, 0);
    EXPECT_GT(inside, 0);
}

TEST(SpectralEnhancement, DegenerateSpectraStayFinite) {
    const float tiny = std::numeric_limits<float>::denorm_min();
    const float huge = std::numeric_limits<float>::max();
    struct Case {
        std::vector<float> amps;
        float omega0;
        bool unchanged;  // by the standard weighting
    };
    std::vector<float> one_loud(30, 0.0f);
    one_loud[20] = 5000.0f;
    const Case cases[] = {
        {std::vector<float>(25, 0.0f), 0.12f, true},               // silence
        {{0.0f, 0.0f, 3.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f}, 0.3f, false},  // zeros around one band
        {one_loud, 0.1f, false},
        {std::vector<float>(12, 800.0f), 1e-20f, true},            // R0 = R1: cos(w0 l) rounds to 1
        {{0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 7.0f}, 1e-6f, false},  // R0 - |R1| ~ 1e-11 R0
        {std::vector<float>(56, tiny), 0.056f, false},
        {std::vector<float>(56, huge), 0.056f, false},
        {{tiny, huge, tiny, 1.0f, huge, 0.0f, tiny, 3.0f, huge}, 0.33f, false},
        {{4.0f}, 0.8f, false},                                       // L = 1
    };
    for (const Case& c : cases) {
        for (FormantWeighting weighting : {FormantWeighting::Compat, FormantWeighting::Standard}) {
            const auto out = enhance_spectral_amplitudes(c.amps, c.omega0, SMOOTHED_ENERGY_RESET, weighting);
            for (std::size_t l = 0; l < c.amps.size(); ++l) {
                ASSERT_TRUE(std::isfinite(out.amplitudes[l])) << "L " << c.amps.size() << " l " << l + 1 << " weighting " << int(weighting);
                ASSERT_GE(out.amplitudes[l], 0.0f);
                if (c.amps[l] == 0.0f) {
                    ASSERT_EQ(out.amplitudes[l], 0.0f);
                }
                if (weighting == FormantWeighting::Standard && c.unchanged) {
                    ASSERT_EQ(out.amplitudes[l], c.amps[l]);
                }
            }
            ASSERT_TRUE(std::isfinite(out.smoothed_energy));
        }
    }
}

// Inputs of the bit-exact regression of the default weighting: formant-shaped, flat, sparse,
// tilted and degenerate spectra from far below to far above speech level.  Built with plain
// arithmetic only (no libm), so they are the same wherever the test runs.
struct ReferenceCase {
    std::vector<float> amplitudes;
    float omega0 = 0.0f;
    double smoothed_energy = SMOOTHED_ENERGY_RESET;
};

constexpr std::size_t REFERENCE_CASES = 64;

ReferenceCase reference_case(std::size_t index) {
    static constexpr std::array<std::size_t, 16> counts = {9, 56, 12, 30, 1, 17, 45, 8, 21, 7, 33, 16, 52, 2, 26, 40};
    static constexpr std::array<double, 8> levels = {1e-3, 0.05, 1.0, 30.0, 700.0, 5000.0, 20000.0, 1e6};
    std::mt19937 rng(static_cast<std::mt19937::result_type>(9000 + index));
    auto uniform = [&rng] { return static_cast<double>(rng() >> 8) * 0x1p-24; };  // exact, in [0, 1)

    ReferenceCase c;
    const std::size_t count = counts[index % counts.size()];
    c.omega0 = static_cast<float>(3.14159 * (0.55 + 0.45 * uniform()) / (static_cast<double>(count) + 0.5));
    c.smoothed_energy = 10000.0 + 1e6 * uniform();
    const double level = levels[(index / 2) % levels.size()] * (0.5 + uniform());
    const int kind = static_cast<int>(index % 6);
    double centre[3], width[3];
    for (int k = 0; k < 3; ++k) {
        centre[k] = 0.3 + 2.6 * uniform();
        width[k] = 0.05 + 0.3 * uniform();
    }
    c.amplitudes.resize(count);
    for (std::size_t l = 1; l <= count; ++l) {
        const double f = static_cast<double>(l) * c.omega0;
        double shape = 0.02;
        for (int k = 0; k < 3; ++k) {
            const double x = (f - centre[k]) / width[k];
            shape += 1.0 / (1.0 + x * x);
        }
        double a = 0.0;
        switch (kind) {
            case 0: case 1: a = shape * (0.7 + 0.6 * uniform()); break;     // formants
            case 2: a = 0.8 + 0.4 * uniform(); break;                       // flat
            case 3: a = uniform() < 0.4 ? 0.0 : shape * uniform(); break;   // sparse, zeros
            case 4: a = l == 1 ? 40.0 : 0.01 + 0.05 * uniform(); break;     // one dominant harmonic
            default: a = 1.0 / (static_cast<double>(l) * static_cast<double>(l)) + 1e-4 * uniform(); break;
        }
        c.amplitudes[l - 1] = static_cast<float>(a * level);
    }
    // A few degenerate frames: all zero, no harmonics, equal amplitudes.
    if (index == REFERENCE_CASES - 1) c.amplitudes.assign(20, 0.0f);
    if (index == REFERENCE_CASES - 2) c.amplitudes.clear();
    if (index == REFERENCE_CASES - 3) c.amplitudes.assign(30, 1234.5f);
    return c;
}

TEST(SpectralEnhancement, DefaultWeightingReproducesTheReferenceBitForBit) {
    static_assert(ENHANCE_REFERENCE_ENERGY.size() == REFERENCE_CASES);
    std::size_t offset = 0;
    for (std::size_t i = 0; i < REFERENCE_CASES; ++i) {
        const ReferenceCase c = reference_case(i);
        const auto out = enhance_spectral_amplitudes(c.amplitudes, c.omega0, c.smoothed_energy);
        EXPECT_EQ(std::bit_cast<std::uint64_t>(out.smoothed_energy), ENHANCE_REFERENCE_ENERGY[i]) << "case " << i;
        for (std::size_t l = 0; l < c.amplitudes.size(); ++l) {
            ASSERT_LT(offset, ENHANCE_REFERENCE_AMPLITUDES.size());
            EXPECT_EQ(std::bit_cast<std::uint32_t>(out.amplitudes[l]), ENHANCE_REFERENCE_AMPLITUDES[offset++])
                << "case " << i << " harmonic " << l + 1;
        }
    }
    EXPECT_EQ(offset, ENHANCE_REFERENCE_AMPLITUDES.size());
}

// Writes enhance_reference.h from the current code to the file named by OSTREL_WRITE_REFERENCE
// (run the test binary with --gtest_also_run_disabled_tests and
// --gtest_filter=SpectralEnhancement.DISABLED_WriteReference).  Only for a deliberate change of
// the default weighting's output.
TEST(SpectralEnhancement, DISABLED_WriteReference) {
    const char* path = std::getenv("OSTREL_WRITE_REFERENCE");
    if (path == nullptr) GTEST_SKIP() << "OSTREL_WRITE_REFERENCE names the output file";
    std::vector<std::uint64_t> energy;
    std::vector<std::uint32_t> amplitudes;
    for (std::size_t i = 0; i < REFERENCE_CASES; ++i) {
        const ReferenceCase c = reference_case(i);
        const auto out = enhance_spectral_amplitudes(c.amplitudes, c.omega0, c.smoothed_energy);
        energy.push_back(std::bit_cast<std::uint64_t>(out.smoothed_energy));
        for (std::size_t l = 0; l < c.amplitudes.size(); ++l) {
            amplitudes.push_back(std::bit_cast<std::uint32_t>(out.amplitudes[l]));
        }
    }
    std::ofstream f(path);
    f << "// SPDX-License-Identifier: GPL-2.0-or-later\n"
         "// Written by the test SpectralEnhancement.DISABLED_WriteReference (enhance_test.cpp); do not\n"
         "// edit.  Output of the default formant weighting for the inputs of reference_case(0..63):\n"
         "// the new S_E of each case (double bit patterns) and the enhanced amplitudes of every case\n"
         "// in order (float bit patterns, L per case).\n"
         "#pragma once\n\n#include <array>\n#include <cstdint>\n\n"
         "namespace ostrel_mbe::codecs::mbe_baseline {\n\n";
    f << "inline constexpr std::array<std::uint64_t, " << energy.size() << "> ENHANCE_REFERENCE_ENERGY = {\n";
    for (std::size_t i = 0; i < energy.size(); ++i) {
        f << (i % 4 == 0 ? "    " : " ") << "0x" << std::hex << energy[i] << std::dec << "u,"
          << (i % 4 == 3 || i + 1 == energy.size() ? "\n" : "");
    }
    f << "};\n\ninline constexpr std::array<std::uint32_t, " << amplitudes.size()
      << "> ENHANCE_REFERENCE_AMPLITUDES = {\n";
    for (std::size_t i = 0; i < amplitudes.size(); ++i) {
        f << (i % 8 == 0 ? "    " : " ") << "0x" << std::hex << amplitudes[i] << std::dec << "u,"
          << (i % 8 == 7 || i + 1 == amplitudes.size() ? "\n" : "");
    }
    f << "};\n\n}  // namespace ostrel_mbe::codecs::mbe_baseline\n";
    ASSERT_TRUE(f.good());
}

SmoothedSpectrum smooth(const std::vector<float>& amps, const std::vector<bool>& voiced, std::uint8_t total,
                        std::uint8_t e4, double se, double rate, double tau) {
    std::array<bool, L_HAT_MAX> flags{};
    for (std::size_t i = 0; i < voiced.size(); ++i) flags[i] = voiced[i];
    return apply_smoothing(amps, std::span<const bool>(flags.data(), amps.size()), total, e4, se, rate, tau);
}

TEST(AdaptiveSmoothing, CleanChannelForcesNothingVoiced) {
    const std::vector<float> huge(30, 1e7f);
    const std::vector<bool> unvoiced(30, false);
    for (std::uint8_t total = 0; total <= 4; ++total) {
        for (double rate : {0.0, 0.003, 0.005}) {
            const auto out = smooth(huge, unvoiced, total, 0, 1e6, rate, 1e12);
            for (std::size_t l = 0; l < 30; ++l) ASSERT_FALSE(out.voiced[l]) << int(total) << " " << rate;
        }
    }
}

TEST(AdaptiveSmoothing, VoicingThresholdBranches) {
    const double se = 40000.0;
    const double base = std::pow(se, 0.375);
    struct Case {
        std::uint8_t total, e4;
        double rate, threshold;
    };
    const Case cases[] = {
        {5, 0, 0.0, base * 45.255},
        {5, 1, 0.0, base * 1.414},
        {0, 0, 0.01, base * 45.255 * std::exp(-277.26 * 0.01)},
        {0, 0, 0.013, base * 1.414},
        {40, 3, 0.02, base * 1.414},
    };
    for (const Case& c : cases) {
        const std::vector<float> amps = {static_cast<float>(c.threshold * 1.001),
                                         static_cast<float>(c.threshold * 0.999),
                                         static_cast<float>(c.threshold * 0.5)};
        const auto out = smooth(amps, {false, false, true}, c.total, c.e4, se, c.rate, 1e12);
        EXPECT_TRUE(out.voiced[0]) << c.threshold;
        EXPECT_FALSE(out.voiced[1]) << c.threshold;
        EXPECT_TRUE(out.voiced[2]) << "decoded flag kept";
        EXPECT_FALSE(out.voiced[3]);
    }
}

TEST(AdaptiveSmoothing, ThresholdResetsGrowsAndFalls) {
    const std::vector<float> amps(10, 1.0f);
    const std::vector<bool> v(10, false);
    EXPECT_EQ(smooth(amps, v, 5, 0, 1e5, 0.0, 1234.0).amplitude_threshold, AMPLITUDE_THRESHOLD_RESET);
    EXPECT_EQ(smooth(amps, v, 6, 0, 1e5, 0.005, -5e4).amplitude_threshold, AMPLITUDE_THRESHOLD_RESET);

    double tau = AMPLITUDE_THRESHOLD_RESET;
    for (int frame = 1; frame <= 5; ++frame) {
        tau = smooth(amps, v, 7, 0, 1e5, 0.0, tau).amplitude_threshold;
        EXPECT_DOUBLE_EQ(tau, AMPLITUDE_THRESHOLD_RESET + 3900.0 * frame);
    }
    tau = 5000.0;
    for (int frame = 1; frame <= 4; ++frame) {
        tau = smooth(amps, v, 30, 0, 1e5, 0.01, tau).amplitude_threshold;
        EXPECT_DOUBLE_EQ(tau, 5000.0 - 3000.0 * frame);
    }
    EXPECT_LT(tau, 0.0);
}

TEST(AdaptiveSmoothing, TotalAmplitudeIsCappedAndNeverInverted) {
    const std::vector<float> amps = {100.0f, 300.0f, 600.0f};
    const std::vector<bool> v(3, false);
    // Below the cap: unchanged.
    auto out = smooth(amps, v, 0, 0, 1e5, 0.0, 0.0);
    EXPECT_EQ(out.amplitudes[1], 300.0f);
    // tau(-1) = 0 with eps_T = 19 gives tau = 300: the sum 1000 is scaled down to 300.
    out = smooth(amps, v, 19, 0, 1e5, 0.01, 0.0);
    EXPECT_DOUBLE_EQ(out.amplitude_threshold, 300.0);
    EXPECT_NEAR(out.amplitudes[0] + out.amplitudes[1] + out.amplitudes[2], 300.0, 1e-3);
    // A negative cap silences the bands instead of inverting and amplifying them.
    out = smooth(amps, v, 30, 0, 1e5, 0.01, -100000.0);
    EXPECT_LT(out.amplitude_threshold, 0.0);
    for (std::size_t l = 0; l < 3; ++l) EXPECT_EQ(out.amplitudes[l], 0.0f);
}

}  // namespace
}  // namespace ostrel_mbe::codecs::mbe_baseline
