// SPDX-License-Identifier: GPL-2.0-or-later
#include "enhancement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace ostrel_mbe::enhancement {
namespace {

constexpr float FS = 8000.0f;

std::vector<std::int16_t> random_pcm(unsigned seed, std::size_t n, int amplitude = 20000) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> dist(-amplitude, amplitude);
    std::vector<std::int16_t> pcm(n);
    for (auto& v : pcm) v = static_cast<std::int16_t>(dist(rng));
    return pcm;
}

// The chain with every filter off: only the fade and the output stage remain.
EnhancementConfig bare() {
    EnhancementConfig c = EnhancementConfig::with_mode(EnhancementMode::Classical);
    c.tag = ChainTag::OnWithoutHighPass;
    c.peaking_present = 0;
    return c;
}

TEST(OutputEnhancement, ModesAndDefaults) {
    const EnhancementConfig classical = EnhancementConfig::with_mode(EnhancementMode::Classical);
    EXPECT_EQ(classical.mode(), EnhancementMode::Classical);
    EXPECT_EQ(classical.tag, ChainTag::OnWithHighPass);
    EXPECT_EQ(classical.fade_length, 40u);
    EXPECT_EQ(classical.output_gain_db, 0.0f);
    EXPECT_EQ(classical.compressor_present, 0u);
    EXPECT_EQ(classical.peaking_present, 1u);
    EXPECT_EQ(EnhancementConfig{}.mode(), EnhancementMode::Classical);
    const EnhancementConfig none = EnhancementConfig::with_mode(EnhancementMode::None);
    EXPECT_EQ(none.mode(), EnhancementMode::None);
    EXPECT_EQ(static_cast<int>(none.tag), 2);
}

TEST(OutputEnhancement, CoefficientsAreTheCookbookDesigns) {
    const double pi = std::numbers::pi;
    const EnhancementConfig c = EnhancementConfig::with_mode(EnhancementMode::Classical);
    {
        const double w = 2 * pi * 250.0 / 8000.0, alpha = std::sin(w) / (2 * 0.707), a0 = 1 + alpha;
        EXPECT_NEAR(c.high_pass.b0, (1 + std::cos(w)) / 2 / a0, 1e-6);
        EXPECT_NEAR(c.high_pass.b1, -(1 + std::cos(w)) / a0, 1e-6);
        EXPECT_NEAR(c.high_pass.b2, (1 + std::cos(w)) / 2 / a0, 1e-6);
        EXPECT_NEAR(c.high_pass.a1, -2 * std::cos(w) / a0, 1e-6);
        EXPECT_NEAR(c.high_pass.a2, (1 - alpha) / a0, 1e-6);
    }
    {
        const double w = 2 * pi * 2500.0 / 8000.0, alpha = std::sin(w) / 2.0, a = std::pow(10.0, 3.0 / 40.0);
        const double a0 = 1 + alpha / a;
        EXPECT_NEAR(c.peaking.b0, (1 + alpha * a) / a0, 1e-6);
        EXPECT_NEAR(c.peaking.b1, -2 * std::cos(w) / a0, 1e-6);
        EXPECT_NEAR(c.peaking.b2, (1 - alpha * a) / a0, 1e-6);
        EXPECT_NEAR(c.peaking.a1, -2 * std::cos(w) / a0, 1e-6);
        EXPECT_NEAR(c.peaking.a2, (1 - alpha / a) / a0, 1e-6);
    }
}

TEST(OutputEnhancement, NoneIsBitExactPassThrough) {
    const EnhancementConfig none = EnhancementConfig::with_mode(EnhancementMode::None);
    EnhancementState state;
    for (unsigned seed = 1; seed <= 5; ++seed) {
        auto pcm = random_pcm(seed, 160, 32768);
        const auto original = pcm;
        apply(none, state, pcm, seed % 2 == 0, FS);
        EXPECT_EQ(pcm, original);
    }
    EXPECT_EQ(state.fade_remaining, 0u);
    EXPECT_EQ(state.high_pass.y1, 0.0f);
}

TEST(OutputEnhancement, BareChainIsIdentityOnContinuousInput) {
    EnhancementState state;
    auto pcm = random_pcm(11, 160, 32768);
    const auto original = pcm;
    apply(bare(), state, pcm, true, FS);
    EXPECT_EQ(pcm, original);
}

TEST(OutputEnhancement, FadeAfterDiscontinuityFollowsTheHalfCosine) {
    EnhancementState state;
    std::vector<std::int16_t> pcm(160, 16384);
    apply(bare(), state, pcm, false, FS);
    EXPECT_EQ(pcm[0], 0);
    for (std::size_t i = 1; i < 40; ++i) {
        const double ramp = 0.5 - 0.5 * std::cos(static_cast<double>(i) * std::numbers::pi / 40.0);
        EXPECT_NEAR(pcm[i], 16384.0 * ramp, 1.0) << i;
        EXPECT_GT(pcm[i], pcm[i - 1]);
    }
    for (std::size_t i = 40; i < 160; ++i) EXPECT_EQ(pcm[i], 16384);
    EXPECT_EQ(state.fade_remaining, 0u);

    // Through the full chain the first sample after a discontinuity is exactly 0 as well.
    EnhancementState full;
    auto noisy = random_pcm(5, 160);
    apply(EnhancementConfig::with_mode(EnhancementMode::Classical), full, noisy, true, FS);
    auto next = random_pcm(6, 160);
    apply(EnhancementConfig::with_mode(EnhancementMode::Classical), full, next, false, FS);
    EXPECT_EQ(next[0], 0);
}

TEST(OutputEnhancement, ConstantInputSettlesToZero) {
    const EnhancementConfig c = EnhancementConfig::with_mode(EnhancementMode::Classical);
    EnhancementState state;
    std::vector<std::int16_t> pcm;
    for (int frame = 0; frame < 10; ++frame) {
        pcm.assign(160, 12000);
        apply(c, state, pcm, frame > 0, FS);
    }
    for (std::int16_t v : pcm) EXPECT_EQ(v, 0);
}

TEST(OutputEnhancement, SaturatesInsteadOfWrapping) {
    // Full scale at the +3 dB peak: the output reaches both rails and keeps the sign of the
    // unsaturated response.
    const EnhancementConfig c = EnhancementConfig::with_mode(EnhancementMode::Classical);
    std::vector<std::int16_t> loud(800), soft(800);
    for (std::size_t n = 0; n < loud.size(); ++n) {
        const double s = std::sin(2.0 * std::numbers::pi * 2500.0 / 8000.0 * static_cast<double>(n));
        loud[n] = static_cast<std::int16_t>(std::lround(32767.0 * s));
        soft[n] = static_cast<std::int16_t>(std::lround(16000.0 * s));
    }
    EnhancementState a, b;
    apply(c, a, loud, true, FS);
    apply(c, b, soft, true, FS);
    bool top = false, bottom = false;
    for (std::size_t n = 0; n < loud.size(); ++n) {
        top |= loud[n] == 32767;
        bottom |= loud[n] == -32768;
        if (std::abs(soft[n]) > 2000) {
            ASSERT_EQ(loud[n] > 0, soft[n] > 0) << n;
        }
    }
    EXPECT_TRUE(top);
    EXPECT_TRUE(bottom);
}

TEST(OutputEnhancement, OutputTruncatesTowardZero) {
    EnhancementConfig c = bare();
    c.output_gain_db = static_cast<float>(20.0 * std::log10(0.99999));
    EnhancementState state;
    std::vector<std::int16_t> pcm = {1, -1, 3, -3, 32767};
    apply(c, state, pcm, true, FS);
    EXPECT_EQ(pcm, (std::vector<std::int16_t>{0, 0, 2, -2, 32766}));
}

// Calls of one sample take the sample-by-sample path, longer ones the chunked one: with both
// filters, the high-pass alone and the peaking filter alone.
TEST(OutputEnhancement, ChunkedCallsEqualOneCall) {
    const auto input = random_pcm(77, 480);
    for (int filters = 0; filters < 3; ++filters) {
        EnhancementConfig c = EnhancementConfig::with_mode(EnhancementMode::Classical);
        if (filters == 1) c.peaking_present = 0;
        if (filters == 2) c.tag = ChainTag::OnWithoutHighPass;
        EnhancementState whole_state;
        auto whole = input;
        apply(c, whole_state, whole, false, FS);
        for (std::size_t chunk : {1u, 7u, 33u, 160u}) {
            EnhancementState state;
            auto pieces = input;
            for (std::size_t start = 0; start < pieces.size(); start += chunk) {
                const std::size_t len = std::min(chunk, pieces.size() - start);
                apply(c, state, std::span<std::int16_t>(pieces.data() + start, len), start > 0, FS);
            }
            EXPECT_EQ(pieces, whole) << "filters " << filters << ", chunk " << chunk;
        }
    }
}

TEST(OutputEnhancement, CompressorReducesLoudPassagesOnly) {
    EnhancementConfig c = bare();
    c.compressor_present = 1;
    c.compressor = {-20.0f, 4.0f, 1.0f, 50.0f, 0.0f};
    std::vector<std::int16_t> loud(1600), quiet(1600);
    for (std::size_t n = 0; n < loud.size(); ++n) {
        const double s = std::sin(2.0 * std::numbers::pi * 440.0 / 8000.0 * static_cast<double>(n));
        loud[n] = static_cast<std::int16_t>(std::lround(20000.0 * s));
        quiet[n] = static_cast<std::int16_t>(std::lround(500.0 * s));
    }
    const auto loud_in = loud, quiet_in = quiet;
    EnhancementState a, b;
    apply(c, a, loud, true, FS);
    apply(c, b, quiet, true, FS);
    int loud_peak = 0;
    for (std::size_t n = 800; n < loud.size(); ++n) loud_peak = std::max(loud_peak, std::abs(int(loud[n])));
    EXPECT_LT(loud_peak, 12000);
    for (std::size_t n = 0; n < quiet.size(); ++n) ASSERT_NEAR(quiet[n], quiet_in[n], 1);
    (void)loud_in;
}

}  // namespace
}  // namespace ostrel_mbe::enhancement
