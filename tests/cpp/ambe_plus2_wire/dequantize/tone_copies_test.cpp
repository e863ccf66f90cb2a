// SPDX-License-Identifier: GPL-2.0-or-later
#include "ambe_plus2_wire/dequantize/tone_copies.h"

#include "ambe_plus2_wire/ambe_plus2_tables.h"

#include <gtest/gtest.h>

#include <random>

namespace ostrel_mbe::ambe_plus2_wire::dequantize {
namespace {

using Kind = ToneVerdict::Kind;

bool filled(unsigned index) { return tables::TONES[index].present && tables::TONES[index].f0_hz > 0.0f; }

// Every bit of u1, u2 and u3 that carries the index, as (vector, bit).
std::vector<std::pair<int, int>> index_bits() {
    std::vector<std::pair<int, int>> out;
    for (int b = 0; b < 12; ++b) out.push_back({1, b});
    for (int b = 0; b < 11; ++b) out.push_back({2, b});
    for (int b = 5; b < 14; ++b) out.push_back({3, b});
    return out;
}

// With three corrections in u1, one hit copy anywhere still gives the sent index, and so do any
// two hit unprotected copies: u1 (which only a miscorrected Golay word would change) decides
// a tie.  Every filled entry is tried.
TEST(AmbePlus2ToneCopies, HitCopiesStillGiveTheSentIndex) {
    const auto positions = index_bits();
    for (unsigned index = 0; index < 256; ++index) {
        if (!filled(index)) continue;
        const InfoVectors sent = tone_frame_vectors(static_cast<std::uint8_t>(index), 77);
        const ToneVerdict right{Kind::Tone, ToneCode{static_cast<std::uint8_t>(index), 77}};
        for (std::size_t i = 0; i < positions.size(); ++i) {
            InfoVectors one = sent;
            one[positions[i].first] ^= static_cast<std::uint16_t>(1u << positions[i].second);
            const ToneVerdict v1 = read_tone_frame_by_copies(one, 3, true);
            ASSERT_TRUE(v1.kind == right.kind && v1.code == right.code) << index << " " << i;
            for (std::size_t j = i + 1; j < positions.size(); ++j) {
                if (positions[i].first == 1) continue;
                InfoVectors u = one;
                u[positions[j].first] ^= static_cast<std::uint16_t>(1u << positions[j].second);
                const ToneVerdict v = read_tone_frame_by_copies(u, 3, true);
                ASSERT_TRUE(v.kind == right.kind && v.code == right.code) << index << " " << i << " " << j;
            }
        }
    }
}

TEST(AmbePlus2ToneCopies, MarkLessFramesAreNotTonesAndGarbageIsRarelyReadAsOne) {
    InfoVectors voice = tone_frame_vectors(12, 100);
    voice[3] |= 1;  // the low nibble of u3 must be clear
    EXPECT_EQ(read_tone_frame_by_copies(voice, 0, true).kind, Kind::NotTone);

    // Random copies behind a valid mark, with the three corrections random words usually need.
    std::mt19937 rng(5);
    int tones = 0;
    constexpr int TRIALS = 200000;
    for (int t = 0; t < TRIALS; ++t) {
        InfoVectors u{0xFC0, static_cast<std::uint16_t>(rng() & 0xFFF), static_cast<std::uint16_t>(rng() & 0x7FF),
                      static_cast<std::uint16_t>(rng() & 0x3FF0)};
        if (read_tone_frame_by_copies(u, 3, true).kind == Kind::Tone) ++tones;
    }
    EXPECT_LE(tones, 2) << "seed 5";
}

// Copies half way between two entries, or too far from any, are irreconcilable, with FEC and
// (more strictly) without.
TEST(AmbePlus2ToneCopies, UnreconcilableCopiesAreReportedSo) {
    // 5 and 133 differ in bit 7 alone, which u1 carries twice and u2 and u3 once each.
    InfoVectors tied = tone_frame_vectors(5, 0);
    tied[1] ^= 0x800;  // one of u1's two copies says 133
    tied[2] ^= 0x040;  // and so does u2's
    EXPECT_EQ(read_tone_frame_by_copies(tied, 0, true).kind, Kind::Irreconcilable);

    InfoVectors three_hits = tone_frame_vectors(12, 0);
    three_hits[2] ^= 0x7;
    EXPECT_EQ(read_tone_frame_by_copies(three_hits, 0, true).kind, Kind::Tone);
    EXPECT_EQ(read_tone_frame_by_copies(three_hits, 3, true).kind, Kind::Irreconcilable);
    EXPECT_EQ(read_tone_frame_by_copies(three_hits, 0, false).kind, Kind::Irreconcilable);
}

}  // namespace
}  // namespace ostrel_mbe::ambe_plus2_wire::dequantize
