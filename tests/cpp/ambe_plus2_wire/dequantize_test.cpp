// SPDX-License-Identifier: GPL-2.0-or-later
#include "ambe_plus2_wire/dequantize.h"

#include "ambe_plus2_wire/ambe_plus2_tables.h"
#include "ambe_plus2_wire/priority.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <variant>
#include <vector>

namespace ostrel_mbe::ambe_plus2_wire::dequantize {
namespace {

unsigned test_seed() {
    static const unsigned seed = std::random_device{}();
    return seed;
}

// Harmonic l (1-based) lies in the band of width pi / 8 that holds its frequency l omega0.
std::size_t band_by_frequency(std::size_t l, double omega0) {
    const double band = std::floor(static_cast<double>(l) * omega0 / (std::numbers::pi / 8.0));
    return static_cast<std::size_t>(std::clamp(band, 0.0, 7.0));
}

// The pitch table entry nearest to omega0 by brute force, the first one on a tie.
std::size_t nearest_pitch(double omega0) {
    std::size_t best = 0;
    for (std::size_t i = 1; i < tables::PITCH.size(); ++i) {
        if (std::abs(omega0 - tables::PITCH[i].omega0) < std::abs(omega0 - tables::PITCH[best].omega0)) best = i;
    }
    return best;
}

MbeParams make_params(float omega0, const std::vector<bool>& voiced, const std::vector<float>& amplitudes) {
    std::array<bool, L_HAT_MAX> v{};
    std::copy(voiced.begin(), voiced.end(), v.begin());
    auto p = MbeParams::create(omega0, std::span<const bool>(v.data(), voiced.size()), amplitudes);
    EXPECT_TRUE(p.has_value());
    return *p;
}

// Voicing flags that follow one codebook entry band by band.
std::vector<bool> flags_of_entry(std::size_t entry, std::size_t l, double omega0) {
    std::vector<bool> v(l);
    for (std::size_t h = 1; h <= l; ++h) v[h - 1] = tables::VUV_CODEBOOK[entry][band_by_frequency(h, omega0)];
    return v;
}

InfoVectors vectors_of(const BValues& b) { return priority::prioritize(b); }

DecodeError bad_pitch() { return DecodeError{DecodeErrorKind::BadPitch}; }

TEST(AmbePlus2Dequantize, PitchTableEnds) {
    DecoderState state;
    const auto first = dequantize(vectors_of({0, 0, 0, 0, 0, 0, 0, 0, 0}), state);
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->omega0(), 0.313977f);
    EXPECT_EQ(first->harmonic_count(), 9);
    const auto last = dequantize(vectors_of({119, 0, 0, 0, 0, 0, 0, 0, 0}), state);
    ASSERT_TRUE(last.has_value());
    EXPECT_EQ(last->omega0(), 0.051051f);
    EXPECT_EQ(last->harmonic_count(), 56);
}

TEST(AmbePlus2Dequantize, ReservedPitchIndicesAreBadPitchOrErasure) {
    std::mt19937 rng(test_seed());
    SCOPED_TRACE("seed " + std::to_string(test_seed()));
    DecoderState state;
    state.previous_gamma = 1.5;
    const DecoderState before = state;
    for (std::uint16_t b0 = 120; b0 < 128; ++b0) {
        for (int trial = 0; trial < 50; ++trial) {
            BValues b{};
            b[0] = b0;
            for (std::size_t i = 1; i < 9; ++i) b[i] = static_cast<std::uint16_t>(rng() & 0x1FF);
            auto u = vectors_of(b);
            u[3] = static_cast<std::uint16_t>(u[3] | 1u);  // never a tone frame
            EXPECT_EQ(dequantize(u, state).error(), bad_pitch());
            EXPECT_TRUE(std::holds_alternative<DecodedFrame::Erasure>(decode_to_params(u, state).kind));
            ASSERT_EQ(state, before);
        }
    }
}

TEST(AmbePlus2Dequantize, ToneMarkerWithNonZeroLowNibbleIsAnErasure) {
    DecoderState state;
    const DecoderState before = state;
    for (unsigned a = 0; a < 128; a += 9) {
        for (unsigned nibble = 1; nibble < 16; ++nibble) {
            const InfoVectors u = {static_cast<std::uint16_t>(0xFC0u | (a >> 1)), 0x123, 0x456,
                                   static_cast<std::uint16_t>((129u << 5) | nibble)};
            const auto frame = decode_to_params(u, state);
            EXPECT_TRUE(std::holds_alternative<DecodedFrame::Erasure>(frame.kind)) << a << " " << nibble;
            EXPECT_EQ(frame.params(), nullptr);
        }
    }
    EXPECT_EQ(state, before);
}

TEST(AmbePlus2Quantize, PitchOutsideTheTableIsRefused) {
    DecoderState state;
    state.previous_gamma = 2.0;
    const DecoderState before = state;
    const std::vector<float> amps(9, 100.0f);
    for (float w : {0.32f, 0.05f, 0.3140f, 0.0510f, 1.0f}) {
        const std::size_t l = w > 0.1f ? 9 : 56;
        const auto p = make_params(w, std::vector<bool>(l, true), std::vector<float>(l, 100.0f));
        EXPECT_EQ(quantize(p, state).error(), bad_pitch()) << w;
        EXPECT_EQ(state, before);
    }
    // The table's own ends are inside.
    DecoderState other;
    EXPECT_TRUE(quantize(make_params(0.313977f, std::vector<bool>(9, true), amps), other).has_value());
    EXPECT_TRUE(quantize(make_params(0.051051f, std::vector<bool>(56, true), std::vector<float>(56, 1.0f)), other)
                    .has_value());
}

TEST(AmbePlus2Quantize, EveryVoicingEntryComesBackAtEveryPitch) {
    for (std::size_t p = 0; p < tables::PITCH.size(); ++p) {
        const float w = tables::PITCH[p].omega0;
        const std::size_t l = tables::PITCH[p].harmonics;
        for (std::size_t entry = 0; entry < tables::VUV_CODEBOOK.size(); ++entry) {
            const auto flags = flags_of_entry(entry, l, w);
            DecoderState enc;
            DecoderState dec;
            const auto u = quantize(make_params(w, flags, std::vector<float>(l, 50.0f)), enc);
            ASSERT_TRUE(u.has_value());
            const auto out = dequantize(*u, dec);
            ASSERT_TRUE(out.has_value());
            ASSERT_EQ(out->harmonic_count(), l);
            for (std::size_t h = 0; h < l; ++h) {
                ASSERT_EQ(out->voiced()[h], flags[h]) << "pitch " << p << " entry " << entry << " harmonic " << h + 1;
            }
        }
    }
}

TEST(AmbePlus2Quantize, BandTieCountsAsVoiced) {
    // At omega0 = 0.15 harmonics 1 and 2 are the only ones in band 0.
    const float w = 0.15f;
    ASSERT_EQ(band_by_frequency(2, w), 0u);
    ASSERT_EQ(band_by_frequency(3, w), 1u);
    const std::size_t l = tables::PITCH[nearest_pitch(w)].harmonics;
    for (std::size_t voiced_one : {0u, 1u}) {
        std::vector<bool> flags(l, false);
        flags[voiced_one] = true;
        const auto params = make_params(w, flags, std::vector<float>(l, 20.0f));
        const auto b1 = encode_vuv(params.voiced(), w);
        for (std::size_t band = 0; band < VUV_BANDS; ++band) {
            EXPECT_EQ(tables::VUV_CODEBOOK[b1][band], band == 0) << "band " << band;
        }
        DecoderState enc;
        DecoderState dec;
        const auto out = dequantize(quantize(params, enc).value(), dec);
        ASSERT_TRUE(out.has_value());
        for (std::size_t h = 0; h < l; ++h) EXPECT_EQ(out->voiced()[h], h < 2) << h + 1;
    }
}

TEST(AmbePlus2Quantize, SilentHarmonicsEnterAsMinusThousand) {
    const float w = 0.2f;
    const std::size_t l = tables::PITCH[nearest_pitch(w)].harmonics;
    std::vector<float> amps(l, 0.0f);
    DecoderState enc;
    DecoderState dec;
    const auto silent = quantize(make_params(w, std::vector<bool>(l, false), amps), enc);
    ASSERT_TRUE(silent.has_value());
    EXPECT_EQ(priority::deprioritize(*silent)[2], 0) << "the lowest gain level";
    for (std::size_t i = 1; i < enc.previous_lambda.size(); ++i) EXPECT_EQ(enc.previous_lambda[i], -1000.0);
    EXPECT_TRUE(dequantize(*silent, dec).has_value());

    // A single silent harmonic among loud ones, voiced and unvoiced, is no error either.
    for (bool voiced : {false, true}) {
        amps.assign(l, 300.0f);
        amps[3] = voiced ? -0.0f : 0.0f;
        DecoderState e2;
        const auto u = quantize(make_params(w, std::vector<bool>(l, voiced), amps), e2);
        ASSERT_TRUE(u.has_value());
        EXPECT_EQ(e2.previous_lambda[4], -1000.0);
        DecoderState d2;
        const auto out = dequantize(*u, d2);
        ASSERT_TRUE(out.has_value());
        EXPECT_LT(out->amplitudes()[3], out->amplitudes()[0]);
    }
}

TEST(AmbePlus2Dequantize, SameVectorsFromEqualStatesGiveEqualResults) {
    std::mt19937 rng(test_seed() + 1);
    SCOPED_TRACE("seed " + std::to_string(test_seed()));
    DecoderState a;
    DecoderState b;
    DecoderState c;  // moved by dequantize_state, the encoder's closed loop
    for (int frame = 0; frame < 300; ++frame) {
        BValues v{};
        v[0] = static_cast<std::uint16_t>(rng() % 120);
        for (std::size_t i = 1; i < 9; ++i) v[i] = static_cast<std::uint16_t>(rng() & 0x1FF);
        const InfoVectors u = vectors_of(v);
        const auto pa = dequantize(u, a);
        const auto frame_b = decode_to_params(u, b);
        ASSERT_TRUE(pa.has_value()) << frame;
        const auto* voice = std::get_if<DecodedFrame::Voice>(&frame_b.kind);
        ASSERT_NE(voice, nullptr) << frame;
        ASSERT_EQ(voice->params, *pa);
        ASSERT_EQ(a, b);
        const BValues carried = priority::deprioritize(u);  // v within the codebooks' widths
        const PredictionBasis basis = prediction_basis(tables::PITCH[v[0]].harmonics, c.previous_lambda, c.previous_l);
        ASSERT_TRUE(dequantize_state(carried, c, basis));
        ASSERT_EQ(a, c);
        EXPECT_EQ(a.previous_l, tables::PITCH[v[0]].harmonics);
    }
}

TEST(AmbePlus2Dequantize, OverflowingAmplitudesAreInvalidParamsAndLeaveTheState) {
    // A previous spectrum alternating by 2000 octaves predicts amplitudes of 2^650 and more,
    // beyond any 32-bit float.
    std::array<double, 57> huge{};
    for (std::size_t i = 0; i < huge.size(); ++i) huge[i] = i % 2 == 0 ? 0.0 : 2000.0;
    DecoderState state = DecoderState::from_lambda_state(huge, 56, 0.0);
    const DecoderState before = state;
    const InfoVectors u = vectors_of({60, 0, 10, 5, 5, 0, 0, 0, 0});
    EXPECT_FALSE(dequantize_state({60, 0, 10, 5, 5, 0, 0, 0, 0}, state,
                                  prediction_basis(tables::PITCH[60].harmonics, state.previous_lambda, 56)));
    EXPECT_EQ(state, before);
    const auto out = dequantize(u, state);
    ASSERT_FALSE(out.has_value());
    EXPECT_EQ(out.error(), (DecodeError{DecodeErrorKind::InvalidParams, MbeParamsError::InvalidAmplitude}));
    EXPECT_EQ(state, before);
    const auto frame = decode_to_params(u, state);
    const auto* error = std::get_if<DecodedFrame::Error>(&frame.kind);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->error, out.error());
    EXPECT_EQ(state, before);
}

TEST(AmbePlus2DecoderState, SeedingAndSnapshot) {
    std::array<double, 16> ones{};
    ones.fill(1.0);
    ones[0] = 0.0;
    EXPECT_EQ(DecoderState::from_lambda_state(ones, 15, 0.0), DecoderState{});
    std::array<double, 1> nothing = {7.0};
    EXPECT_EQ(DecoderState::from_lambda_state(nothing, 0, 0.0).previous_lambda, DecoderState{}.previous_lambda);

    const auto fresh = DecoderState{}.lambda_tilde_snapshot();
    ASSERT_EQ(fresh.view().size(), 16u);
    EXPECT_EQ(fresh.view()[0], 0.0);
    for (std::size_t i = 1; i < 16; ++i) EXPECT_EQ(fresh.view()[i], 1.0);

    const std::array<double, 5> seed = {99.0, 1.5, -2.0, 3.0, 4.5};
    const auto s = DecoderState::from_lambda_state(seed, 4, -1.25);
    EXPECT_EQ(s.previous_l, 4);
    EXPECT_EQ(s.previous_gamma, -1.25);
    for (std::size_t i = 1; i <= 4; ++i) EXPECT_EQ(s.previous_lambda[i], seed[i]);
    for (std::size_t i = 5; i < 58; ++i) EXPECT_EQ(s.previous_lambda[i], 4.5);

    // A decoder's state survives the snapshot and reseeding unchanged.
    std::mt19937 rng(test_seed() + 2);
    SCOPED_TRACE("seed " + std::to_string(test_seed()));
    DecoderState dec;
    for (int frame = 0; frame < 40; ++frame) {
        BValues v{};
        v[0] = static_cast<std::uint16_t>(rng() % 120);
        for (std::size_t i = 1; i < 9; ++i) v[i] = static_cast<std::uint16_t>(rng() & 0x1FF);
        ASSERT_TRUE(dequantize(vectors_of(v), dec).has_value());
        const auto snap = dec.lambda_tilde_snapshot();
        ASSERT_EQ(snap.view().size(), dec.previous_l + 1u);
        ASSERT_EQ(DecoderState::from_lambda_state(snap.view(), dec.previous_l, dec.previous_gamma), dec);
    }
}

// A speech-like log2 envelope: a level, a downward tilt and three formant bumps.
struct Envelope {
    double level;
    std::array<double, 3> centre_hz;
    std::array<double, 3> height;

    double log2_at(double hz) const {
        double v = level - hz / 1500.0;
        for (std::size_t i = 0; i < 3; ++i) {
            const double x = (hz - centre_hz[i]) / 250.0;
            v += height[i] * std::exp(-x * x);
        }
        return v;
    }
};

TEST(AmbePlus2Quantize, PlausibleSpeechRoundTrips) {
    std::mt19937 rng(test_seed() + 3);
    SCOPED_TRACE("seed " + std::to_string(test_seed()));
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    DecoderState enc;
    DecoderState dec;
    double total_error = 0.0;
    double total_shape = 0.0;
    double level = 6.0;
    int gain_in_range = 0;
    for (int frame = 0; frame < 200; ++frame) {
        const auto w = static_cast<float>(OMEGA0_MIN + (OMEGA0_MAX - OMEGA0_MIN) * uniform(rng));
        const std::size_t nearest = nearest_pitch(w);
        const std::size_t l = tables::PITCH[nearest].harmonics;
        // The level drifts slowly, as in speech, within the range the gain codes.
        level = std::clamp(level + 1.5 * (uniform(rng) - 0.5), 3.0, 9.0);
        const Envelope env{level,
                           {300.0 + 600.0 * uniform(rng), 1000.0 + 1200.0 * uniform(rng), 2300.0 + 1000.0 * uniform(rng)},
                           {1.0 + 2.5 * uniform(rng), 0.5 + 2.0 * uniform(rng), 0.5 + 1.5 * uniform(rng)}};
        const std::size_t entry = static_cast<std::size_t>(rng() % tables::VUV_CODEBOOK.size());
        const auto flags = flags_of_entry(entry, l, w);
        std::vector<float> amps(l);
        std::vector<double> target(l);
        const double unvoiced_scale = 0.2046 / std::sqrt(static_cast<double>(w));
        for (std::size_t h = 1; h <= l; ++h) {
            const double hz = static_cast<double>(h) * w * 4000.0 / std::numbers::pi;
            target[h - 1] = env.log2_at(hz);
            amps[h - 1] = static_cast<float>(std::exp2(target[h - 1]) * (flags[h - 1] ? 1.0 : unvoiced_scale));
        }
        const auto params = make_params(w, flags, amps);
        // The gain difference the encoder codes for this frame.
        double gain_step = 0.0;
        for (double t : target) gain_step += t / static_cast<double>(l);
        gain_step += 0.5 * std::log2(static_cast<double>(l)) - 0.5 * enc.previous_gamma;

        const auto u = quantize(params, enc);
        ASSERT_TRUE(u.has_value()) << frame;
        EXPECT_EQ(priority::deprioritize(*u)[0], nearest) << frame;
        const auto out = dequantize(*u, dec);
        ASSERT_TRUE(out.has_value()) << frame;
        EXPECT_EQ(out->omega0(), tables::PITCH[nearest].omega0);
        ASSERT_EQ(out->harmonic_count(), l);
        // Encoder and decoder agree on the gain memory and the harmonic count.
        EXPECT_DOUBLE_EQ(enc.previous_gamma, dec.previous_gamma);
        EXPECT_EQ(enc.previous_l, dec.previous_l);

        // Voicing: b1 agrees with the entry on every band the encoder filled, and the decoder
        // spreads it over its own bands (of the table's omega0).
        const std::size_t b1 = priority::deprioritize(*u)[1];
        for (std::size_t h = 1; h <= l; ++h) {
            const std::size_t band = band_by_frequency(h, w);
            EXPECT_EQ(tables::VUV_CODEBOOK[b1][band], tables::VUV_CODEBOOK[entry][band]) << frame;
        }
        const double out_scale = 0.2046 / std::sqrt(static_cast<double>(out->omega0()));
        double mean_target = 0.0;
        double mean_out = 0.0;
        std::vector<double> decoded(l);
        for (std::size_t h = 0; h < l; ++h) {
            const bool voiced = tables::VUV_CODEBOOK[b1][band_by_frequency(h + 1, out->omega0())];
            ASSERT_EQ(out->voiced()[h], voiced) << frame << " harmonic " << h + 1;
            decoded[h] = std::log2(static_cast<double>(out->amplitudes()[h]) / (voiced ? 1.0 : out_scale));
            mean_target += target[h] / static_cast<double>(l);
            mean_out += decoded[h] / static_cast<double>(l);
        }
        // The mean level is coded by the gain: inside the gain range, off by at most half the
        // widest step between gain levels.
        if (gain_step > -2.0 && gain_step < 6.87) {
            ++gain_in_range;
            EXPECT_LT(std::abs(mean_out - mean_target), 0.67) << frame;
        }
        double error = 0.0;
        double shape = 0.0;
        for (std::size_t h = 0; h < l; ++h) {
            const double e = (decoded[h] - mean_out) - (target[h] - mean_target);
            error += e * e;
            shape += (target[h] - mean_target) * (target[h] - mean_target);
            EXPECT_LT(std::abs(e), 3.0) << frame << " harmonic " << h + 1;
        }
        total_error += error;
        total_shape += shape;

        // The encoder follows the decoder, as the analysis encoder keeps it.
        const auto snap = dec.lambda_tilde_snapshot();
        enc = DecoderState::from_lambda_state(snap.view(), dec.previous_l, dec.previous_gamma);
    }
    // The codebooks capture most of the spectral shape.
    EXPECT_GT(gain_in_range, 150);
    EXPECT_LT(total_error, 0.25 * total_shape);
}

}  // namespace
}  // namespace ostrel_mbe::ambe_plus2_wire::dequantize
