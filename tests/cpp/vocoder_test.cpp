// SPDX-License-Identifier: GPL-2.0-or-later
#include "vocoder.h"
#include "vocoder_state.h"
#include "test_signal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <numbers>
#include <random>
#include <vector>

namespace ostrel_mbe {
namespace {

constexpr Rate ALL_RATES[] = {Rate::Imbe7200x4400, Rate::Imbe4400x4400, Rate::AmbePlus2_3600x2450,
                              Rate::AmbePlus2_2450x2450};

using test_signal::frame_of;
using test_signal::voiced_signal;

double rms(std::span<const std::int16_t> x) {
    double e = 0.0;
    for (auto v : x) e += static_cast<double>(v) * v;
    return std::sqrt(e / static_cast<double>(x.size()));
}

class EveryRate : public ::testing::TestWithParam<Rate> {};
INSTANTIATE_TEST_SUITE_P(Vocoder, EveryRate, ::testing::ValuesIn(ALL_RATES),
                         [](const auto& param_info) { return std::string(debug_name(param_info.param)); });

TEST_P(EveryRate, WrongLengthsAreRejectedWithExactTexts) {
    Vocoder v(GetParam());
    std::vector<std::int16_t> pcm(161);
    for (std::size_t n : {159u, 161u, 0u}) {
        auto r = v.encode_pcm(std::span<const std::int16_t>(pcm.data(), n));
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().display(), "expected 160 PCM samples per frame, got " + std::to_string(n));
    }
    const std::size_t expected = wire_bytes(GetParam());
    std::vector<std::uint8_t> bytes(19);
    for (std::size_t n : {expected - 1, expected + 1, std::size_t{0}}) {
        auto r = v.decode_bits(std::span<const std::uint8_t>(bytes.data(), n));
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().display(),
                  "expected " + std::to_string(expected) + " FEC bytes per frame, got " + std::to_string(n));
    }
}

TEST_P(EveryRate, EncodeGivesTheRateFrameLengthAndReportsKinds) {
    Vocoder v(GetParam());
    EXPECT_FALSE(v.last_output_kind());
    EXPECT_FALSE(v.last_tone_detection());
    const auto signal = voiced_signal(6);
    for (std::size_t i = 0; i < 6; ++i) {
        auto frame = v.encode_pcm(frame_of(signal, i));
        ASSERT_TRUE(frame) << frame.error().display();
        EXPECT_EQ(frame->length, wire_bytes(GetParam()));
        // The first two frames after a reset are sent as silence while the history fills.
        EXPECT_EQ(*v.last_output_kind(), i < 2 ? OutputKind::Silence : OutputKind::Voice) << i;
    }
    v.reset();
    EXPECT_FALSE(v.last_output_kind());
}

TEST_P(EveryRate, DecodeReportNamesTheEncodersFrameKinds) {
    // The decoder recognises the encoder's warm-up silence frames and its voice frames; on a
    // clean channel every code vector of the rate reports zero corrected errors.
    Vocoder enc(GetParam()), dec(GetParam());
    EXPECT_FALSE(dec.last_decode_report().kind);
    const std::uint8_t vectors = has_fec(GetParam()) ? (is_imbe(GetParam()) ? 8 : 4) : 0;
    const auto signal = voiced_signal(6);
    for (std::size_t i = 0; i < 6; ++i) {
        const auto frame = enc.encode_pcm(frame_of(signal, i));
        ASSERT_TRUE(frame && dec.decode_bits(frame->span()));
        const DecodeReport& r = dec.last_decode_report();
        EXPECT_EQ(r.kind, i < 2 ? FrameKind::Silence : FrameKind::Voice) << i;
        EXPECT_EQ(r.code_vectors, vectors);
        EXPECT_EQ(r.errors, (std::array<std::uint8_t, 8>{}));
        EXPECT_EQ(r.disposition, codecs::mbe_baseline::FrameDisposition::Normal);
        EXPECT_FALSE(r.tone);
    }
    dec.reset();
    EXPECT_FALSE(dec.last_decode_report().kind);
}

TEST_P(EveryRate, RejectedDecodeChangesNothing) {
    Vocoder enc(GetParam());
    const auto signal = voiced_signal(8);
    std::vector<WireFrame> frames;
    for (std::size_t i = 0; i < 8; ++i) frames.push_back(*enc.encode_pcm(frame_of(signal, i)));

    Vocoder a(GetParam()), b(GetParam());
    const std::vector<std::uint8_t> junk(5, 0xFF);
    for (const auto& f : frames) {
        ASSERT_FALSE(b.decode_bits(junk));
        EXPECT_EQ(*a.decode_bits(f.span()), *b.decode_bits(f.span()));
    }
}

TEST_P(EveryRate, LoopbackOnOneChannelEqualsSeparateChannels) {
    // Full duplex: decoding on the channel that encodes must not disturb its encoder, and vice versa.
    const auto signal = voiced_signal(12);
    Vocoder duplex(GetParam()), encoder(GetParam()), decoder(GetParam());
    for (std::size_t i = 0; i < 12; ++i) {
        auto f1 = duplex.encode_pcm(frame_of(signal, i));
        auto f2 = encoder.encode_pcm(frame_of(signal, i));
        ASSERT_TRUE(f1 && f2);
        ASSERT_EQ(std::vector<std::uint8_t>(f1->span().begin(), f1->span().end()),
                  std::vector<std::uint8_t>(f2->span().begin(), f2->span().end()))
            << "frame " << i;
        EXPECT_EQ(*duplex.decode_bits(f1->span()), *decoder.decode_bits(f2->span())) << "frame " << i;
    }
}

TEST_P(EveryRate, ToneDetectionAtFullRateOnlyChangesTheReport) {
    std::vector<std::int16_t> tone(FRAME_SAMPLES * 4);
    for (std::size_t n = 0; n < tone.size(); ++n) {
        const double t = static_cast<double>(n) / 8000.0;
        tone[n] = static_cast<std::int16_t>(
            std::lround(8000.0 * (std::sin(2 * std::numbers::pi * 697 * t) + std::sin(2 * std::numbers::pi * 1209 * t))));
    }
    Vocoder on(GetParam()), off(GetParam());
    on.set_tone_detection(true);
    for (std::size_t i = 0; i < 4; ++i) {
        auto a = on.encode_pcm(frame_of(tone, i));
        auto b = off.encode_pcm(frame_of(tone, i));
        ASSERT_TRUE(a && b);
        ASSERT_TRUE(on.last_tone_detection());
        EXPECT_EQ(on.last_tone_detection()->id, 129);
        EXPECT_FALSE(off.last_tone_detection());
        if (is_imbe(GetParam())) {
            EXPECT_EQ(std::vector<std::uint8_t>(a->span().begin(), a->span().end()),
                      std::vector<std::uint8_t>(b->span().begin(), b->span().end()));
            EXPECT_NE(*on.last_output_kind(), OutputKind::Tone);
        } else {
            EXPECT_EQ(*on.last_output_kind(), OutputKind::Tone);
            EXPECT_NE(*off.last_output_kind(), OutputKind::Tone);
            Vocoder dec(GetParam());
            ASSERT_TRUE(dec.decode_bits(a->span()));
            EXPECT_EQ(dec.last_decode_report().kind, FrameKind::Tone);
            EXPECT_EQ(dec.last_decode_report().tone, on.last_tone_detection());
            if (GetParam() == Rate::AmbePlus2_2450x2450) {
                const auto u = wire_bytes_layout::unpack_info_half(std::span<const std::uint8_t, 7>(a->bytes.data(), 7));
                EXPECT_EQ(u[0], 0xFC0 | (on.last_tone_detection()->amplitude >> 1));
                EXPECT_EQ(u[3] & 0xF, 0);
            }
        }
    }
}

TEST_P(EveryRate, SilenceInGivesNearSilenceOut) {
    Vocoder enc(GetParam()), dec(GetParam());
    const std::vector<std::int16_t> zeros(FRAME_SAMPLES, 0);
    const auto speech = voiced_signal(20);
    double silent_level = 0.0, speech_level = 0.0;
    for (int i = 0; i < 20; ++i) {
        auto out = dec.decode_bits(enc.encode_pcm(zeros)->span());
        if (i >= 4) silent_level = std::max(silent_level, rms(*out));
    }
    Vocoder enc2(GetParam()), dec2(GetParam());
    for (std::size_t i = 0; i < 20; ++i) {
        auto out = dec2.decode_bits(enc2.encode_pcm(frame_of(speech, i))->span());
        if (i >= 6) speech_level = std::max(speech_level, rms(*out));
    }
    EXPECT_GT(speech_level, 500.0);
    EXPECT_LT(silent_level, speech_level / 100.0) << "silence decodes " << silent_level << " vs speech " << speech_level;
}

TEST_P(EveryRate, VoicedSignalKeepsPitchAndLevel) {
    const double f0 = 125.0;
    std::vector<std::int16_t> in(FRAME_SAMPLES * 30);
    for (std::size_t n = 0; n < in.size(); ++n) {
        double s = 0.0;
        for (int h = 1; h <= 20; ++h) s += std::sin(2 * std::numbers::pi * f0 * h * static_cast<double>(n) / 8000.0) / h;
        in[n] = static_cast<std::int16_t>(std::lround(4000.0 * s));
    }
    Vocoder enc(GetParam()), dec(GetParam());
    dec.set_enhancement(enhancement::EnhancementMode::None);  // the post-filter's high-pass would take the 125 Hz fundamental
    std::vector<double> out;
    for (std::size_t i = 0; i < 30; ++i) {
        auto pcm = dec.decode_bits(enc.encode_pcm(frame_of(in, i))->span());
        if (i >= 10) out.insert(out.end(), pcm->begin(), pcm->end());
    }
    // Level: within a factor of two of the input's.
    double ein = 0, eout = 0;
    for (std::size_t n = FRAME_SAMPLES * 10; n < in.size(); ++n) ein += double(in[n]) * in[n];
    for (double v : out) eout += v * v;
    const double ratio = std::sqrt(eout / ein);
    // Within 3 dB (the half rate's coarser spectral codebooks lose about 2 dB on this input).
    EXPECT_GT(ratio, 0.7);
    EXPECT_LT(ratio, 1.41);
    // Pitch: the autocorrelation of the output peaks at the input period (64 samples).
    auto ac = [&](std::size_t lag) {
        double s = 0;
        for (std::size_t n = 0; n + lag < out.size(); ++n) s += out[n] * out[n + lag];
        return s;
    };
    std::size_t best = 20;
    for (std::size_t lag = 20; lag <= 150; ++lag) if (ac(lag) > ac(best)) best = lag;
    EXPECT_NEAR(static_cast<double>(best), 8000.0 / f0, 2.0);
}

TEST_P(EveryRate, StandardFormantWeightingReshapesTheSpectrumAtTheSameLevel) {
    using codecs::mbe_baseline::FormantWeighting;
    const auto speech = voiced_signal(30);
    Vocoder enc(GetParam()), compat(GetParam()), standard(GetParam());
    EXPECT_EQ(compat.formant_weighting(), FormantWeighting::Compat);
    standard.set_formant_weighting(FormantWeighting::Standard);
    double e_compat = 0, e_standard = 0, e_difference = 0;
    for (std::size_t i = 0; i < 30; ++i) {
        const auto bits = enc.encode_pcm(frame_of(speech, i));
        const auto a = compat.decode_bits(bits->span());
        const auto b = standard.decode_bits(bits->span());
        for (std::size_t n = 0; n < FRAME_SAMPLES; ++n) {
            e_compat += double((*a)[n]) * (*a)[n];
            e_standard += double((*b)[n]) * (*b)[n];
            e_difference += (double((*a)[n]) - (*b)[n]) * (double((*a)[n]) - (*b)[n]);
        }
    }
    // The energy correction keeps the level within 1 dB; the waveform itself changes.
    EXPECT_NEAR(10 * std::log10(e_standard / e_compat), 0.0, 1.0);
    EXPECT_GT(e_difference, 1e-3 * e_compat);
}

TEST_P(EveryRate, GarbageOffTheAirIsConcealedNeverRejected) {
    // Random frames, then a burst of all-ones and all-zeros frames: every call succeeds and the
    // output stays bounded (the mute and repeat paths and the error-rate tracking all run).
    const unsigned seed = 8121;
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    Vocoder v(GetParam());
    std::vector<std::uint8_t> frame(wire_bytes(GetParam()));
    for (int i = 0; i < 400; ++i) {
        for (auto& b : frame) {
            b = i < 300 ? static_cast<std::uint8_t>(rng()) : (i % 2 ? 0xFF : 0x00);
        }
        auto out = v.decode_bits(frame);
        ASSERT_TRUE(out) << i;
        EXPECT_LE(v.last_decode_report().e0, 4) << i;
    }
}

TEST_P(EveryRate, ExtremeInputsEncode) {
    // Full-scale noise, a clipped square wave, lone impulses and DC at both rails.
    const unsigned seed = 4242;
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    Vocoder v(GetParam());
    std::array<std::int16_t, FRAME_SAMPLES> pcm{};
    for (int i = 0; i < 60; ++i) {
        for (std::size_t n = 0; n < FRAME_SAMPLES; ++n) {
            switch (i / 12) {
                case 0: pcm[n] = static_cast<std::int16_t>(rng()); break;
                case 1: pcm[n] = (n / 20) % 2 ? 32767 : -32768; break;
                case 2: pcm[n] = n % 97 == 0 ? 32767 : 0; break;
                case 3: pcm[n] = 32767; break;
                default: pcm[n] = -32768; break;
            }
        }
        auto f = v.encode_pcm(pcm);
        ASSERT_TRUE(f) << i << ": " << f.error().display();
        EXPECT_EQ(f->length, wire_bytes(GetParam()));
    }
}

TEST(Vocoder, CorrectableBitErrorsDecodeLikeTheCleanFrame) {
    Vocoder enc(Rate::Imbe7200x4400);
    const auto signal = voiced_signal(10);
    Vocoder clean(Rate::Imbe7200x4400), noisy(Rate::Imbe7200x4400);
    for (std::size_t i = 0; i < 10; ++i) {
        WireFrame f = *enc.encode_pcm(frame_of(signal, i));
        WireFrame g = f;
        g.bytes[0] ^= 0x80;  // one bit of c0 (symbol 0, high bit)
        g.bytes[5] ^= 0x01;
        EXPECT_EQ(*clean.decode_bits(f.span()), *noisy.decode_bits(g.span())) << i;
        EXPECT_GE(noisy.last_decode_report().total, 1);
    }
}

TEST(Vocoder, DecodeReportCountsEachCorrectedBitOnce) {
    // Each wire bit of a clean frame flipped in turn: every bit under Golay or Hamming
    // protection is corrected and counted in one code vector (137 of 144 bits at the full
    // rate, c0 and c1 with 47 of 72 at the half rate), the unprotected bits count nothing.
    for (const auto& [rate, protected_bits] :
         {std::pair{Rate::Imbe7200x4400, 137u}, std::pair{Rate::AmbePlus2_3600x2450, 47u}}) {
        Vocoder enc(rate);
        const auto signal = voiced_signal(3);
        WireFrame clean{};
        for (std::size_t i = 0; i < 3; ++i) clean = *enc.encode_pcm(frame_of(signal, i));
        unsigned counted = 0;
        for (std::size_t bit = 0; bit < clean.length * 8u; ++bit) {
            WireFrame f = clean;
            f.bytes[bit / 8] ^= static_cast<std::uint8_t>(0x80 >> (bit % 8));
            Vocoder dec(rate);
            ASSERT_TRUE(dec.decode_bits(f.span()));
            const DecodeReport& r = dec.last_decode_report();
            unsigned sum = 0;
            for (std::size_t v = 0; v < r.code_vectors; ++v) sum += r.errors[v];
            EXPECT_LE(sum, 1u) << debug_name(rate) << " bit " << bit;
            EXPECT_EQ(r.total, sum);
            counted += sum;
        }
        EXPECT_EQ(counted, protected_bits) << debug_name(rate);
    }
}

TEST(Vocoder, HalfRateErasureFrameIsReportedAndSilent) {
    // Six marker ones in u0 with a non-zero low nibble in u3 is no tone frame: an erasure.
    Vocoder v(Rate::AmbePlus2_2450x2450);
    const std::array<std::uint8_t, 7> ones{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    const auto out = v.decode_bits(ones);
    ASSERT_TRUE(out);
    EXPECT_EQ(rms(*out), 0.0);
    EXPECT_EQ(v.last_decode_report().kind, FrameKind::Erasure);
}

TEST(Vocoder, UndecodablePitchGivesZerosWithoutAdvancingSynthesis) {
    Vocoder v(Rate::Imbe4400x4400);
    v.set_enhancement(enhancement::EnhancementMode::None);
    // b0 = 255: u0 bits 11..6 all ones and u7 bits 2..1 ones.
    std::array<std::uint16_t, 8> u{0xFC0, 0, 0, 0, 0, 0, 0, 0x06};
    auto bad = wire_bytes_layout::pack_info_full(u);
    auto out = v.decode_bits(bad);
    ASSERT_TRUE(out);
    for (auto s : *out) EXPECT_EQ(s, 0);
    EXPECT_EQ(v.last_decode_report().disposition, codecs::mbe_baseline::FrameDisposition::None);
    EXPECT_EQ(v.last_decode_report().kind, FrameKind::Invalid);
    const std::array<std::uint8_t, 11> zeros{};
    EXPECT_TRUE(v.decode_bits(zeros));  // an all-zero 4400 frame never fails

    // The refused frame leaves the synthesizer where it was: a channel that saw it decodes the
    // following frames exactly like one that did not.
    Vocoder enc(Rate::Imbe4400x4400), with_bad(Rate::Imbe4400x4400), without(Rate::Imbe4400x4400);
    with_bad.set_enhancement(enhancement::EnhancementMode::None);
    without.set_enhancement(enhancement::EnhancementMode::None);
    const auto signal = voiced_signal(6);
    for (std::size_t i = 0; i < 6; ++i) {
        WireFrame f = *enc.encode_pcm(frame_of(signal, i));
        if (i == 3) {
            ASSERT_TRUE(with_bad.decode_bits(bad));
        }
        EXPECT_EQ(*with_bad.decode_bits(f.span()), *without.decode_bits(f.span())) << i;
    }
}

TEST(Vocoder, SettingsClampAndResetRules) {
    Vocoder v(Rate::Imbe7200x4400);
    v.set_amp_ema_alpha(2.5);
    EXPECT_EQ(v.amp_ema_alpha(), 1.0);
    v.set_amp_ema_alpha(-3);
    EXPECT_EQ(v.amp_ema_alpha(), 0.0);
    v.set_amp_ema_alpha(std::nan(""));
    EXPECT_EQ(v.amp_ema_alpha(), 0.0);
    v.set_amp_ema_alpha(0.25);

    v.set_chip_compat(true);
    v.set_chip_compat_spectral_clamp(true);
    v.set_tone_detection(true);
    v.set_silence_dispatch(true);
    v.set_spectral_subtraction(false);
    v.set_pyin_pitch(true);
    v.set_repeat_reset_after(3u);
    v.set_ambe_plus2_synth(AmbePlus2Synth::Baseline);
    v.set_enhancement(enhancement::EnhancementMode::None);
    v.set_formant_weighting(codecs::mbe_baseline::FormantWeighting::Standard);
    v.reset();
    EXPECT_FALSE(v.chip_compat());
    EXPECT_FALSE(v.chip_compat_spectral_clamp());
    EXPECT_FALSE(v.silence_dispatch());
    EXPECT_TRUE(v.spectral_subtraction());
    EXPECT_FALSE(v.pyin_pitch());
    EXPECT_FALSE(v.repeat_reset_after());
    EXPECT_EQ(v.amp_ema_alpha(), 0.0);
    // Kept across reset:
    EXPECT_TRUE(v.tone_detection());
    EXPECT_EQ(v.ambe_plus2_synth(), AmbePlus2Synth::Baseline);
    EXPECT_EQ(v.enhancement(), enhancement::EnhancementMode::None);
    EXPECT_EQ(v.formant_weighting(), codecs::mbe_baseline::FormantWeighting::Standard);
}

TEST(Vocoder, NoiseGeneratorByRateThenByEnvironmentAtReset) {
    using codecs::mbe_baseline::LCG_DEFAULT;
    using codecs::mbe_baseline::LCG_STANDARD;
    auto same = [](const codecs::mbe_baseline::LcgParams& a, const codecs::mbe_baseline::LcgParams& b) {
        return a.multiplier == b.multiplier && a.increment == b.increment && a.modulus == b.modulus && a.state == b.state;
    };
    ::setenv("OSTREL_LCG", "spec", 1);
    Vocoder half(Rate::AmbePlus2_3600x2450);
    EXPECT_TRUE(same(half.state().lcg, LCG_DEFAULT));  // construction reads no environment
    ::unsetenv("OSTREL_LCG");
    Vocoder full(Rate::Imbe7200x4400);
    EXPECT_TRUE(same(full.state().lcg, LCG_STANDARD));
    full.reset();
    EXPECT_TRUE(same(full.state().lcg, LCG_DEFAULT));
    for (const char* value : {"SPEC", "spec ", "", "standard"}) {
        ::setenv("OSTREL_LCG", value, 1);
        full.reset();
        EXPECT_TRUE(same(full.state().lcg, LCG_DEFAULT)) << value;
    }
    for (const char* value : {"spec", "Spec"}) {
        ::setenv("OSTREL_LCG", value, 1);
        half.reset();
        EXPECT_TRUE(same(half.state().lcg, LCG_STANDARD)) << value;
    }
    ::unsetenv("OSTREL_LCG");
}

TEST(Vocoder, NoiseStartFromEnvironmentAtFirstSynthesisAfterConstructionOrReset) {
    ::setenv("OSTREL_LCG_INIT", "zero", 1);
    Vocoder v(Rate::Imbe7200x4400);
    ::setenv("OSTREL_LCG_INIT", "burn_64", 1);  // set after construction, before the first decode
    EXPECT_TRUE(v.decode_reads_environment());
    const auto frame = Vocoder(Rate::Imbe7200x4400).encode_pcm(std::array<std::int16_t, FRAME_SAMPLES>{});
    ASSERT_TRUE(frame && v.decode_bits(frame->span()));
    EXPECT_FALSE(v.decode_reads_environment());
    const auto& window = v.state().synth.noise.window;
    EXPECT_EQ(window[144], 0.0) << "filled from index 145";
    EXPECT_NE(window[145], 0.0);
    ::setenv("OSTREL_LCG_INIT", "zero", 1);  // read once: the next frames keep their generator
    ASSERT_TRUE(v.decode_bits(frame->span()));
    EXPECT_EQ(v.state().synth.noise.start, codecs::mbe_baseline::noise_start_index("burn_64"));
    v.reset();
    ::unsetenv("OSTREL_LCG_INIT");  // after the reset, before its first decode
    ASSERT_TRUE(v.decode_bits(frame->span()));
    EXPECT_EQ(v.state().synth.noise.start, 0u);
    EXPECT_NE(window[0], 0.0);
}

TEST(Vocoder, HalfRateFecFrameWithUncorrectableFirstWordCountsFour) {
    Vocoder enc(Rate::AmbePlus2_3600x2450);
    const auto signal = voiced_signal(5);
    WireFrame f{};
    for (std::size_t i = 0; i < 5; ++i) f = *enc.encode_pcm(frame_of(signal, i));
    // Flip enough c0 bits that the extended Golay decoder flags the word: c0 bits 23 and 22 sit in
    // symbols 0 and 2 (high bits), bit 5 and 4 in their low bits.
    f.bytes[0] ^= 0b11001100;
    Vocoder dec(Rate::AmbePlus2_3600x2450);
    ASSERT_TRUE(dec.decode_bits(f.span()));
    EXPECT_LE(dec.last_decode_report().e0, 4);
}

TEST(Vocoder, HalfRatePadBitsAreIgnored) {
    Vocoder enc(Rate::AmbePlus2_2450x2450);
    const auto signal = voiced_signal(6);
    Vocoder a(Rate::AmbePlus2_2450x2450), b(Rate::AmbePlus2_2450x2450);
    for (std::size_t i = 0; i < 6; ++i) {
        WireFrame f = *enc.encode_pcm(frame_of(signal, i));
        EXPECT_EQ(f.bytes[6] & 0x7F, 0);
        WireFrame g = f;
        g.bytes[6] |= 0x7F;
        EXPECT_EQ(*a.decode_bits(f.span()), *b.decode_bits(g.span()));
    }
}

}  // namespace
}  // namespace ostrel_mbe
