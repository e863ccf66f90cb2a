// SPDX-License-Identifier: GPL-2.0-or-later
#include "ambe_plus2_wire/dequantize/reconstruction_search.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ambe_plus2_wire/ambe_plus2_tables.h"
#include "bundled_speech.h"
#include "codecs/mbe_baseline/analysis/ambe_plus2_encode.h"

namespace ostrel_mbe::ambe_plus2_wire::dequantize {
namespace {

namespace analysis = codecs::mbe_baseline::analysis;

// Squared log2 error of the decoded amplitudes against the analysed ones, each harmonic weighted
// by its analysed amplitude to the power `exponent`, normalised by the weights.
double log_error(const MbeParams& analysed, const MbeParams& decoded, double exponent) {
    double sum = 0.0;
    double weights = 0.0;
    for (std::size_t i = 0; i < analysed.harmonic_count(); ++i) {
        const double a = analysed.amplitudes()[i];
        const double d = decoded.amplitudes()[i];
        if (!(a > 0.0) || !(d > 0.0)) continue;
        const double w = std::pow(a, exponent);
        sum += w * std::pow(std::log2(d / a), 2.0);
        weights += w;
    }
    return weights > 0.0 ? sum / weights : 0.0;
}

TEST(NearestEntries, NearestFirstLowerIndexOnTies) {
    const std::array<std::array<float, 1>, 5> book{{{3.0f}, {1.0f}, {-1.0f}, {1.0f}, {0.5f}}};
    const auto best = nearest_entries<3, 1>(book, {1.0});
    EXPECT_EQ(best, (std::array<std::size_t, 3>{1, 3, 4}));
    EXPECT_EQ(nearest_entry<1>(book, {-0.9}), 2u);
}

// On the bundled speech, through two closed loops and two independent decoders: every searched
// frame decodes, its decoder ends where the encoder is, and the decoded spectrum is nearer the
// analysed one than the plain quantizer's, on average over the frames.
TEST(ReconstructionSearch, TracksItsDecoderAndLowersTheSpectralErrorOnSpeech) {
    const std::vector<std::int16_t> pcm = test_signal::bundled_speech();
    ASSERT_GT(pcm.size(), 160u * 100);
    analysis::AnalysisState state;
    DecoderState plain_encoder, plain_decoder, searched_encoder, searched_decoder;
    double plain_error = 0.0, searched_error = 0.0, plain_flat = 0.0, searched_flat = 0.0;
    int frames = 0;
    for (std::size_t n = 0; n + 160 <= pcm.size(); n += 160) {
        const auto params = analysis::encode_ambe_plus2({pcm.data() + n, 160}, state, analysis::PredictorCopy::Skip);
        ASSERT_TRUE(params.has_value());
        if (!params->has_value()) continue;
        const MbeParams& analysed = **params;

        const auto u_plain = quantize_closed_loop(analysed, plain_encoder);
        const auto u_searched = quantize_by_reconstruction(analysed, searched_encoder);
        ASSERT_TRUE(u_plain.has_value() && u_searched.has_value());
        const auto plain = dequantize(*u_plain, plain_decoder);
        const auto searched = dequantize(*u_searched, searched_decoder);
        ASSERT_TRUE(plain.has_value() && searched.has_value()) << "sample " << n;
        ASSERT_EQ(searched_encoder, searched_decoder) << "sample " << n;
        ASSERT_EQ(searched->harmonic_count(), analysed.harmonic_count());
        plain_error += log_error(analysed, *plain, 0.5);
        searched_error += log_error(analysed, *searched, 0.5);
        plain_flat += log_error(analysed, *plain, 0.0);
        searched_flat += log_error(analysed, *searched, 0.0);
        ++frames;
    }
    ASSERT_GT(frames, 100);
    // The gain goes to the test report (--gtest_output=xml), not to the console.
    RecordProperty("log2_error_per_frame_weighted", std::to_string(plain_error / frames) + " -> " +
                                                        std::to_string(searched_error / frames));
    RecordProperty("log2_error_per_frame_unweighted", std::to_string(plain_flat / frames) + " -> " +
                                                          std::to_string(searched_flat / frames));
    EXPECT_LT(searched_error, plain_error);
}

}  // namespace
}  // namespace ostrel_mbe::ambe_plus2_wire::dequantize
