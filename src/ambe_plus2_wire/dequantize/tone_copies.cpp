// SPDX-License-Identifier: GPL-2.0-or-later
#include "ambe_plus2_wire/dequantize/tone_copies.h"

#include <bit>
#include <limits>

#include "ambe_plus2_wire/ambe_plus2_tables.h"

namespace ostrel_mbe::ambe_plus2_wire::dequantize {
namespace {

// The bits of u3 that carry the index (bits 13..5); bit 4 is amplitude, 3..0 the mark.
constexpr unsigned U3_INDEX_BITS = 0x3FE0;

// The distance of the received copies from an entry's, times 16, plus the distance of u1's
// copies alone: of two entries equally near, the one the Golay-protected copy agrees with more
// wins.
unsigned copy_score(const InfoVectors& received, const InfoVectors& expected) {
    const auto u1 = static_cast<unsigned>(std::popcount(static_cast<unsigned>(received[1] ^ expected[1]) & 0xFFFu));
    const auto rest = static_cast<unsigned>(std::popcount(static_cast<unsigned>(received[2] ^ expected[2]) & 0x7FFu) +
                                            std::popcount(static_cast<unsigned>(received[3] ^ expected[3]) & U3_INDEX_BITS));
    return (u1 + rest) * 16 + u1;
}

}  // namespace

ToneVerdict read_tone_frame_by_copies(const InfoVectors& u, unsigned u1_errors, bool with_fec) {
    const std::optional<ToneCode> marked = read_tone_frame(u);
    if (!marked) return {};
    unsigned best = std::numeric_limits<unsigned>::max();
    unsigned second = best;
    unsigned best_index = 0;
    for (unsigned index = 0; index < tables::TONES.size(); ++index) {
        if (!tables::TONES[index].present || !(tables::TONES[index].f0_hz > 0.0f)) continue;
        const unsigned score = copy_score(u, tone_frame_vectors(static_cast<std::uint8_t>(index), marked->amplitude));
        if (score < best) {
            second = best;
            best = score;
            best_index = index;
        } else if (score < second) {
            second = score;
        }
    }
    const unsigned bound = with_fec ? TONE_COPY_DISTANCE_FEC : TONE_COPY_DISTANCE_BARE;
    if (best / 16 + u1_errors > bound || second == best) return {ToneVerdict::Kind::Irreconcilable, {}};
    return {ToneVerdict::Kind::Tone, ToneCode{static_cast<std::uint8_t>(best_index), marked->amplitude}};
}

}  // namespace ostrel_mbe::ambe_plus2_wire::dequantize
