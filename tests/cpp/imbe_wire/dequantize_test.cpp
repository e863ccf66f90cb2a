// SPDX-License-Identifier: GPL-2.0-or-later
#include "imbe_wire/dequantize.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <random>

#include "imbe_wire/dequantize/log_prediction.h"
#include "imbe_wire/imbe_tables.h"
#include "imbe_wire/priority.h"

namespace ostrel_mbe::imbe_wire::dequantize {
namespace {

using priority::prioritize;

// A state that differs from a new one in every field, to show that rejected calls leave it alone.
DecoderState used_state() {
    std::array<float, 20> amplitudes{};
    for (std::size_t i = 0; i < amplitudes.size(); ++i) amplitudes[i] = 3.0f + static_cast<float>(i);
    auto state = DecoderState::from_amplitudes(amplitudes, 20);
    state.toggle = true;
    return state;
}

// Information vectors carrying pitch index b0 and otherwise the given b values.
InfoVectors frame_with_pitch(unsigned b0, BValues b = {}) {
    b[0] = static_cast<std::uint16_t>(b0);
    const auto pitch = decode_pitch(static_cast<std::uint8_t>(b0 < 208 ? b0 : 0));
    return prioritize(b, pitch->harmonic_count);
}

// Parameters with every harmonic at one amplitude and voicing.
MbeParams flat_params(float omega0, std::uint8_t l, float amplitude, bool voiced = false) {
    std::array<bool, L_HAT_MAX> flags{};
    std::array<float, L_HAT_MAX> amplitudes{};
    for (std::size_t h = 0; h < l; ++h) {
        flags[h] = voiced;
        amplitudes[h] = amplitude;
    }
    return MbeParams::from_valid(omega0, std::span<const bool>(flags.data(), l),
                                 std::span<const float>(amplitudes.data(), l));
}

// Random parameters on the coded pitch grid: voicing constant within each band, and a smooth
// log2 spectrum (a mean-reverting random walk) whose level stays inside the gain quantizer's range.
MbeParams random_params(std::mt19937& rng, std::array<float, L_HAT_MAX>* log2_out = nullptr) {
    const auto pitch = decode_pitch(static_cast<std::uint8_t>(rng() % 208));
    const std::uint8_t l = pitch->harmonic_count;
    std::array<bool, L_HAT_MAX> voiced{};
    std::array<float, L_HAT_MAX> amplitudes{};
    const unsigned band_bits = static_cast<unsigned>(rng());
    std::normal_distribution<float> walk(0.0f, 0.3f);
    const float level = std::uniform_real_distribution<float>(1.0f, 6.0f)(rng);
    float deviation = 0.0f;
    for (std::size_t h = 1; h <= l; ++h) {
        voiced[h - 1] = ((band_bits >> band_of_harmonic(h)) & 1u) != 0;
        deviation = 0.9f * deviation + walk(rng);
        const float x = level + deviation;
        amplitudes[h - 1] = std::exp2(x);
        if (log2_out) (*log2_out)[h - 1] = x;
    }
    return MbeParams::from_valid(pitch->omega0, std::span<const bool>(voiced.data(), l),
                                 std::span<const float>(amplitudes.data(), l));
}

TEST(ImbeDequantize, ErrorTexts) {
    EXPECT_EQ(DecodeError{DecodeErrorKind::BadPitch}.debug(), "BadPitch");
    EXPECT_EQ((DecodeError{DecodeErrorKind::InvalidParams, MbeParamsError::InvalidAmplitude}.debug()),
              "InvalidParams(InvalidAmplitude)");
    EXPECT_EQ((DecodeError{DecodeErrorKind::InvalidParams, MbeParamsError::OmegaOutOfRange}.debug()),
              "InvalidParams(OmegaOutOfRange)");
    EXPECT_EQ(debug_name(EncodeError::PitchOutOfRange), "PitchOutOfRange");
}

TEST(ImbeDequantize, PitchIndexEnds) {
    DecoderState state;
    const auto first = dequantize(frame_with_pitch(0), state);
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->omega0(), MbeParams::imbe_silence().omega0());
    EXPECT_FLOAT_EQ(first->omega0(), static_cast<float>(4.0 * std::numbers::pi / 39.5));
    EXPECT_EQ(first->harmonic_count(), 9);

    const auto last = dequantize(frame_with_pitch(207), state);
    ASSERT_TRUE(last.has_value());
    EXPECT_FLOAT_EQ(last->omega0(), static_cast<float>(4.0 * std::numbers::pi / 246.5));
    EXPECT_EQ(last->harmonic_count(), 56);
}

TEST(ImbeDequantize, PitchIndicesOutsideTheRangeAreRefused) {
    for (unsigned b0 = 208; b0 < 256; ++b0) {
        auto state = used_state();
        const auto before = state;
        const auto result = dequantize(frame_with_pitch(b0), state);
        ASSERT_FALSE(result.has_value()) << b0;
        EXPECT_EQ(result.error().debug(), "BadPitch");
        EXPECT_EQ(state, before) << "b0=" << b0;
    }
}

TEST(ImbeDequantize, EveryPitchIndexRoundTrips) {
    unsigned previous_l = 9;
    for (unsigned b0 = 0; b0 < 208; ++b0) {
        const auto pitch = decode_pitch(static_cast<std::uint8_t>(b0));
        ASSERT_TRUE(pitch.has_value());
        EXPECT_EQ(encode_pitch(pitch->omega0), b0);
        // The harmonic count follows the fundamental: it never falls as the pitch period grows.
        EXPECT_GE(pitch->harmonic_count, previous_l) << "b0=" << b0;
        EXPECT_LE(pitch->harmonic_count, 56);
        // About 0.9254 pi / omega0 harmonics: those below 3.7 kHz, the band the bits cover.
        EXPECT_NEAR(pitch->harmonic_count, 0.9254 * std::numbers::pi / pitch->omega0, 2.0) << "b0=" << b0;
        previous_l = pitch->harmonic_count;

    }
}

TEST(ImbeQuantize, PitchIndexFromFundamental) {
    DecoderState state;
    const auto b = quantize(flat_params(static_cast<float>(4.0 * std::numbers::pi / 39.5), 9, 1.0f), state);
    ASSERT_TRUE(b.has_value());
    EXPECT_EQ((*b)[0], 0);
    for (unsigned b0 : {1u, 100u, 207u}) {
        const auto pitch = decode_pitch(static_cast<std::uint8_t>(b0));
        const auto coded = quantize(flat_params(pitch->omega0, pitch->harmonic_count, 1.0f), state);
        ASSERT_TRUE(coded.has_value());
        EXPECT_EQ((*coded)[0], b0);
    }
}

// A fundamental on the edge between two pitch indices, whose harmonic count the caller
// derived in 64-bit arithmetic, must still produce a frame the decoder reads with that count.
TEST(ImbeQuantize, PitchCellEdgeKeepsTheCallersHarmonicCount) {
    int edges_checked = 0;
    for (int n = 10; n <= 62; ++n) {
        // 4 pi / omega0 just below 4n - 1, where floor(pi / omega0 + 0.25) steps from n - 1 to n.
        for (double offset : {-3.5e-6, -1e-6, -1e-7, 1e-7, 1e-6}) {
            const double period = 4.0 * n - 1.0 + offset;
            const double omega = 4.0 * std::numbers::pi / period;
            const int analysis_l = std::clamp(
                static_cast<int>(std::floor(0.9254 * std::floor(std::numbers::pi / omega + 0.25))), 9, 56);
            const auto omega0 = static_cast<float>(omega);
            if (!encode_pitch(omega0)) continue;
            const auto l = static_cast<std::uint8_t>(analysis_l);
            DecoderState encoder;
            DecoderState decoder;
            const auto b = quantize(flat_params(omega0, l, 50.0f, true), encoder);
            ASSERT_TRUE(b.has_value());
            EXPECT_EQ(decode_pitch(static_cast<std::uint8_t>((*b)[0]))->harmonic_count, l)
                << "4 pi / omega0 = " << period;
            EXPECT_LE(std::abs(int((*b)[0]) - int(*encode_pitch(omega0))), 1);
            const auto decoded = dequantize(prioritize(*b, l), decoder);
            ASSERT_TRUE(decoded.has_value());
            EXPECT_EQ(decoded->harmonic_count(), l);
            EXPECT_EQ(decoder, encoder);
            // Read with the right allocation the level comes back: the shape coefficients (whose
            // quantizers have no zero level, so each carries half a step) average out over the frame.
            double mean = 0.0;
            for (float a : decoded->amplitudes()) mean += std::log2(a);
            EXPECT_NEAR(mean / l, std::log2(50.0), 0.15) << "L=" << int(l);
            ++edges_checked;
        }
    }
    EXPECT_GT(edges_checked, 200);
}

TEST(ImbeQuantize, FundamentalOutsideTheCodedRangeIsRefused) {
    // 4 pi / omega0 - 39 >= 208 below the lowest coded pitch, < 0 above the highest.
    const float too_low = static_cast<float>(4.0 * std::numbers::pi / 247.5);
    const float too_high = static_cast<float>(4.0 * std::numbers::pi / 38.9);
    for (float omega0 : {too_low, 1e-6f, std::numeric_limits<float>::denorm_min(), too_high, 3.0f}) {
        auto state = used_state();
        const auto before = state;
        const auto result = quantize(flat_params(omega0, 56, 100.0f), state);
        ASSERT_FALSE(result.has_value()) << omega0;
        EXPECT_EQ(result.error(), EncodeError::PitchOutOfRange);
        EXPECT_EQ(state, before) << omega0;
    }
    EXPECT_FALSE(encode_pitch(0.0f).has_value());
    EXPECT_FALSE(encode_pitch(std::numeric_limits<float>::quiet_NaN()).has_value());
    EXPECT_FALSE(encode_pitch(std::numbers::pi_v<float>).has_value());
}

TEST(ImbeQuantize, NewStateAndUnitAmplitudesCodeAZeroResidual) {
    for (unsigned b0 = 0; b0 < 208; b0 += 7) {
        const auto pitch = decode_pitch(static_cast<std::uint8_t>(b0));
        const std::uint8_t l = pitch->harmonic_count;
        HarmonicVector zero_log{};
        const auto residual = forward_log_prediction(zero_log, l, DecoderState{});
        for (std::size_t h = 0; h < L_HAT_MAX; ++h) EXPECT_EQ(residual[h], 0.0f) << "L=" << int(l);

        DecoderState state;
        const auto b = quantize(flat_params(pitch->omega0, l, 1.0f), state);
        ASSERT_TRUE(b.has_value());
        // Every uniform quantizer codes zero as its upper middle index, and the gain index is the
        // level nearest zero.
        EXPECT_EQ((*b)[2], 17);
        EXPECT_LT(std::fabs(tables::GAIN_LEVELS[17]), std::fabs(tables::GAIN_LEVELS[16]));
        for (unsigned m = 0; m < 5; ++m) {
            EXPECT_EQ((*b)[3 + m], 1u << (tables::GAIN_QUANTIZERS[l - 9][m].bits - 1)) << "L=" << int(l);
        }
        const auto range = tables::HOC_ALLOCATION_RANGE[l - 9];
        for (unsigned e = 0; e < range.count; ++e) {
            const auto& entry = tables::HOC_ALLOCATION[range.start + e];
            EXPECT_EQ((*b)[entry.value_index], entry.bits == 0 ? 0u : 1u << (entry.bits - 1)) << "L=" << int(l);
        }
    }
}

TEST(ImbeQuantize, ToggleBitAlternatesFromOne) {
    DecoderState encoder;
    DecoderState decoder;
    std::mt19937 rng(11);
    for (int frame = 0; frame < 8; ++frame) {
        const auto params = random_params(rng);
        const std::uint8_t l = params.harmonic_count();
        const auto b = quantize(params, encoder);
        ASSERT_TRUE(b.has_value());
        const unsigned expected = frame % 2 == 0 ? 1u : 0u;
        EXPECT_EQ((*b)[l + 2], expected) << "frame " << frame;
        EXPECT_EQ(encoder.toggle, expected != 0);
        ASSERT_TRUE(dequantize(prioritize(*b, l), decoder).has_value());
        EXPECT_EQ(decoder.toggle, expected != 0);
    }
}

// The encoder's closed loop: quantizing and dequantizing with equal states leaves equal
// states, frame after frame, and the decoder hears what the encoder's predictor assumed.
TEST(ImbeQuantize, ClosedLoopKeepsEncoderAndDecoderStatesEqual) {
    const unsigned seed = 12345;
    std::mt19937 rng(seed);
    DecoderState encoder;
    DecoderState decoder;
    for (int frame = 0; frame < 300; ++frame) {
        const auto params = random_params(rng);
        const std::uint8_t l = params.harmonic_count();
        const DecoderState before = encoder;
        const auto b = quantize(params, encoder);
        ASSERT_TRUE(b.has_value()) << "frame " << frame << " seed " << seed;
        for (std::size_t n = l + 3u; n < 59; ++n) EXPECT_EQ((*b)[n], 0) << "beyond b(L+2)";
        const auto expected_amplitudes = reconstruct_amplitudes_from_bits(*b, l, before);
        const auto decoded = dequantize(prioritize(*b, l), decoder);
        ASSERT_TRUE(decoded.has_value()) << "frame " << frame << " seed " << seed;
        ASSERT_EQ(decoder, encoder) << "frame " << frame << " seed " << seed;
        // ... which the encoder may then take without decoding its own frame, and only then.
        EXPECT_TRUE(decodes_as_quantized(prioritize(*b, l), *b, l, encoder));
        BValues other = *b;
        other[2] ^= 1u;
        EXPECT_FALSE(decodes_as_quantized(prioritize(*b, l), other, l, encoder));
        EXPECT_EQ(decoded->harmonic_count(), l);
        EXPECT_EQ(decoded->omega0(), params.omega0());
        for (std::size_t h = 0; h < l; ++h) EXPECT_EQ(decoded->amplitudes()[h], expected_amplitudes[h]);
        for (std::size_t h = l; h < L_HAT_MAX; ++h) EXPECT_EQ(expected_amplitudes[h], 0.0f);
    }
}

// Round trip of random parameters: voicing comes back per band exactly, and once the
// predictor has seen a spectrum, every log2 amplitude comes back within the precision of the
// quantizers (finer for few harmonics, which get more bits per coefficient).
TEST(ImbeQuantize, RoundTripWithinQuantizerPrecision) {
    const unsigned seed = 2024;
    std::mt19937 rng(seed);
    DecoderState encoder;
    DecoderState decoder;
    for (int segment = 0; segment < 100; ++segment) {
        std::array<float, L_HAT_MAX> log2_in{};
        const auto params = random_params(rng, &log2_in);
        const std::uint8_t l = params.harmonic_count();
        for (int frame = 0; frame < 3; ++frame) {
            const auto b = quantize(params, encoder);
            ASSERT_TRUE(b.has_value());
            const auto decoded = dequantize(prioritize(*b, l), decoder);
            ASSERT_TRUE(decoded.has_value());

            const unsigned k = band_count(l);
            for (std::size_t h = 1; h <= l; ++h) {
                const std::size_t band = band_of_harmonic(h);
                const bool band_voiced = params.voiced()[3 * band - 3];
                EXPECT_EQ(decoded->voiced()[h - 1], band_voiced) << "h=" << h << " seed " << seed;
                EXPECT_EQ(((*b)[1] >> (k - band)) & 1u, band_voiced ? 1u : 0u);
            }
            if (frame == 0) continue;  // the predictor still carries the previous spectrum
            double sum = 0.0;
            double sum_sq = 0.0;
            double worst = 0.0;
            for (std::size_t h = 0; h < l; ++h) {
                const double error = std::log2(double(decoded->amplitudes()[h])) - log2_in[h];
                sum += error;
                sum_sq += error * error;
                worst = std::max(worst, std::fabs(error));
            }
            const double rms = std::sqrt(sum_sq / l);
            // The level rides on the gain levels, about 0.2 apart over the range used here.
            EXPECT_LT(std::fabs(sum / l), 0.2) << "segment " << segment << " L=" << int(l) << " seed " << seed;
            EXPECT_LT(rms, l <= 12 ? 0.15 : 0.5) << "segment " << segment << " L=" << int(l) << " seed " << seed;
            EXPECT_LT(worst, l <= 12 ? 0.3 : 1.5) << "segment " << segment << " L=" << int(l) << " seed " << seed;
        }
    }
}

TEST(ImbeQuantize, SilenceFrameCodesNearSilence) {
    // All-zero amplitudes must not poison the transforms with log2(0): the frame has to code as
    // the quietest flat spectrum, not as the most negative level of every coefficient.
    DecoderState encoder;
    DecoderState decoder;
    const auto silence = MbeParams::imbe_silence();
    for (int frame = 0; frame < 6; ++frame) {
        const auto b = quantize(silence, encoder);
        ASSERT_TRUE(b.has_value());
        EXPECT_EQ((*b)[0], 0);
        EXPECT_EQ((*b)[1], 0) << "unvoiced";
        EXPECT_EQ((*b)[2], 0) << "lowest gain level";
        for (unsigned m = 0; m < 5; ++m) {
            const unsigned middle = 1u << (tables::GAIN_QUANTIZERS[0][m].bits - 1);
            EXPECT_NEAR((*b)[3 + m], middle, 1.0) << "flat spectrum, gain coefficient " << m + 2;
        }
        for (std::size_t h = 0; h < 56; ++h) EXPECT_TRUE(std::isfinite(encoder.previous_amplitudes[h]));
        const auto decoded = dequantize(prioritize(*b, 9), decoder);
        ASSERT_TRUE(decoded.has_value()) << decoded.error().debug();
        EXPECT_EQ(decoder, encoder);
        for (float a : decoded->amplitudes()) {
            EXPECT_GT(a, 0.0f);
            EXPECT_LT(a, 0.25f) << "frame " << frame << ": the quietest level is 2^-2.84";
        }
    }
}

TEST(ImbeQuantize, ExtremeAmplitudesStayInsideTheIndexRanges) {
    DecoderState encoder;
    DecoderState decoder;
    for (float amplitude : {std::numeric_limits<float>::max(), std::numeric_limits<float>::denorm_min(), 0.0f,
                            1e30f, 1e-30f}) {
        for (unsigned b0 : {0u, 207u}) {
            const auto pitch = decode_pitch(static_cast<std::uint8_t>(b0));
            const auto b = quantize(flat_params(pitch->omega0, pitch->harmonic_count, amplitude, true), encoder);
            ASSERT_TRUE(b.has_value());
            const auto decoded = dequantize(prioritize(*b, pitch->harmonic_count), decoder);
            ASSERT_TRUE(decoded.has_value()) << amplitude;
            EXPECT_EQ(decoder, encoder);
        }
    }
}

TEST(ImbeDequantize, NonFiniteAmplitudesRefusedWithStateUntouched) {
    // A seeded predictor with one enormous harmonic among tiny ones pushes the prediction past
    // the float range at L = 56, where it weighs the previous shape most.
    std::array<float, 56> seed{};
    seed.fill(1e-38f);
    seed[0] = 3e38f;
    auto state = DecoderState::from_amplitudes(seed, 56);
    const auto before = state;
    const auto result = dequantize(frame_with_pitch(207), state);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().debug(), "InvalidParams(InvalidAmplitude)");
    EXPECT_EQ(state, before);
}

TEST(ImbeDequantize, ArbitraryFramesDecodeOrAreRefused) {
    const unsigned seed = 99;
    std::mt19937 rng(seed);
    DecoderState state;
    constexpr std::array<unsigned, 8> widths = {12, 12, 12, 12, 11, 11, 11, 7};
    for (int frame = 0; frame < 500; ++frame) {
        InfoVectors u{};
        for (unsigned v = 0; v < 8; ++v) u[v] = static_cast<std::uint16_t>(rng() & ((1u << widths[v]) - 1u));
        const auto before = state;
        const auto result = dequantize(u, state);
        if (!result) {
            EXPECT_EQ(state, before) << "seed " << seed;
            EXPECT_GE(priority::pitch_index(u), 208) << "seed " << seed << " " << result.error().debug();
            continue;
        }
        EXPECT_EQ(state.previous_l, result->harmonic_count());
        for (float a : result->amplitudes()) EXPECT_TRUE(std::isfinite(a) && a > 0.0f) << "seed " << seed;
    }
}

TEST(ImbeDecoderState, FromAmplitudesPlacesTheGivenValues) {
    const std::array<float, 5> five = {2, 3, 4, 5, 6};
    const auto shorter = DecoderState::from_amplitudes(five, 12);
    EXPECT_EQ(shorter.previous_l, 12);
    EXPECT_FALSE(shorter.toggle);
    for (std::size_t i = 0; i < 58; ++i) {
        EXPECT_EQ(shorter.previous_amplitudes[i], i >= 1 && i <= 5 ? five[i - 1] : 1.0f);
    }
    const auto truncated = DecoderState::from_amplitudes(five, 3);
    for (std::size_t i = 0; i < 58; ++i) {
        EXPECT_EQ(truncated.previous_amplitudes[i], i >= 1 && i <= 3 ? five[i - 1] : 1.0f);
    }
    std::array<float, 60> many{};
    many.fill(7.0f);
    const auto full = DecoderState::from_amplitudes(many, 57);
    EXPECT_EQ(full.previous_amplitudes[0], 1.0f);
    EXPECT_EQ(full.previous_amplitudes[57], 7.0f);
}

TEST(ImbeCollapseVuv, OnlyTheLowestHarmonicOfEachBandCounts) {
    for (unsigned l = 9; l <= 56; ++l) {
        const unsigned k = band_count(static_cast<std::uint8_t>(l));
        EXPECT_EQ(k, l <= 36 ? (l + 2) / 3 : 12u);
        for (std::size_t h = 1; h <= l; ++h) {
            std::array<bool, L_HAT_MAX> voiced{};
            voiced[h - 1] = true;
            const unsigned band = band_of_harmonic(h);
            const bool lowest = h == 3 * band - 2;
            EXPECT_EQ(collapse_vuv(std::span<const bool>(voiced.data(), l), k), lowest ? 1u << (k - band) : 0u)
                << "L=" << l << " h=" << h;
        }
    }
}

}  // namespace
}  // namespace ostrel_mbe::imbe_wire::dequantize
