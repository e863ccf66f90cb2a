// SPDX-License-Identifier: GPL-2.0-or-later
#include "ambe_plus2_wire/dequantize/reconstruction_search.h"

#include "ambe_plus2_wire/ambe_plus2_tables.h"
#include "ambe_plus2_wire/dequantize/codebook_columns.h"
#include "ambe_plus2_wire/priority.h"
#include "common/built_once.h"
#include "common/simd.h"
#include "wire_common/block_dct.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace ostrel_mbe::ambe_plus2_wire::dequantize {
namespace {

// Candidates per codebook: the gain keeps its nearest level and both neighbours.  Each candidate
// of the vector codebooks costs one decoder rebuild, which is what bounds the search's time.
constexpr std::size_t GAIN_CANDIDATES = 3;
constexpr std::size_t PRBA_CANDIDATES = 4;
constexpr std::size_t HOC_CANDIDATES = 3;
constexpr std::size_t VOICING_CANDIDATES = 3;
// Harmonics more than this far (log2) below the loudest one count as that far: silent harmonics
// must not dominate the error.
constexpr double LEVEL_FLOOR = 10.0;
// A harmonic's error weighs with its amplitude to this power, so formant peaks, which mask the
// quantization noise of the valleys, decide the choice.  Of 0, 0.25, 0.5 and 1 (with or without
// extra weight on the low harmonics), PESQ on 2450 bit/s speech preferred 0.5.
constexpr double LEVEL_WEIGHT_EXPONENT = 0.5;
// A harmonic decoded with the wrong voicing costs as much as this squared log2 amplitude error
// (weighted alike): a voiced harmonic turned to noise is heard more than any level error the
// other codebooks could save, so the voicing entry changes mostly between entries that
// disagree as often, towards disagreeing on the quieter harmonics.  PESQ rose from 0 through 10
// and flattened above.
constexpr double VOICING_MISMATCH = 10.0;

// b2..b8 move together in the search; b1 is searched on its own terms, b0 stays as quantized.
constexpr std::size_t FIRST_SEARCHED = 2;
constexpr std::size_t SEARCHED = 7;
constexpr std::size_t MAX_CANDIDATES = std::max({GAIN_CANDIDATES, PRBA_CANDIDATES, HOC_CANDIDATES});

struct Candidates {
    std::array<std::uint16_t, MAX_CANDIDATES> index{};
    // The change of the rebuilt log2 amplitudes against the plain choice (entry 0, all zero);
    // entries 1..count - 1 are written for the L harmonics before they are read, so the 7 kB of
    // the search's candidates are not cleared on every frame.
    std::array<Residuals, MAX_CANDIDATES> delta;
    std::size_t count = 1;

    Candidates() { delta[0].fill(0.0); }
};

template <std::size_t M>
void keep(Candidates& out, const std::array<std::size_t, M>& nearest) {
    // The nearest entry is normally the plain choice already in entry 0.
    for (std::size_t m = 0; m < M && out.count < MAX_CANDIDATES; ++m) {
        if (nearest[m] != out.index[0]) out.index[out.count++] = static_cast<std::uint16_t>(nearest[m]);
    }
}

// Per band, per voicing entry: 1.0 where a harmonic of the band voiced [1] or unvoiced [0]
// would decode with the wrong voicing, else 0.0.  A harmonic's weight times this adds exactly
// its weight or nothing (x + 0.0 is x), so a sum over the harmonics in order, all entries at
// once, is the same as adding the weights of the disagreeing harmonics alone.
using EntryLanes = std::array<double, tables::VUV_CODEBOOK.size()>;
alignas(32) constexpr auto DISAGREES = [] {
    std::array<std::array<EntryLanes, VUV_BANDS>, 2> out{};
    for (std::size_t voiced = 0; voiced < 2; ++voiced) {
        for (std::size_t band = 0; band < VUV_BANDS; ++band) {
            for (std::size_t e = 0; e < tables::VUV_CODEBOOK.size(); ++e) {
                out[voiced][band][e] = tables::VUV_CODEBOOK[e][band] != (voiced != 0) ? 1.0 : 0.0;
            }
        }
    }
    return out;
}();

// A block carries C(i,1..6) at most (two from the PRBA vector, four from its higher-order
// codebook); the rest of its row is 0.
constexpr std::size_t CODED_COEFFICIENTS = 6;

// The cosines of the block DCT for the coded coefficients: [n][k][m] = cos(k pi (m + 0.5) / n)
// for k < min(n, 6), m < n, zero up to whole groups of four values.
constexpr std::size_t PADDED_BLOCK = (MAX_BLOCK_LENGTH + 3) / 4 * 4;
using CodedCosines =
    std::array<std::array<std::array<double, PADDED_BLOCK>, CODED_COEFFICIENTS>, MAX_BLOCK_LENGTH + 1>;
CodedCosines build_coded_cosines() {
    CodedCosines out{};
    for (std::size_t n = 1; n <= MAX_BLOCK_LENGTH; ++n) {
        const auto& table = wire_common::block_dct::cosines<double, MAX_BLOCK_LENGTH>(n);
        for (std::size_t k = 0; k < std::min(n, CODED_COEFFICIENTS); ++k) {
            std::copy_n(table[k].begin(), n, out[n][k].begin());
        }
    }
    return out;
}

// Block `block` of inverse_block_dct(c, j) written over its place in t, with the terms of the
// zero coefficients past C(i,6) left out: adding 0 times a cosine to a sum changes at most the
// sign of a zero, which no squared error, and so no choice of the search, sees.  Otherwise the
// same products summed in the same order, four values at a time (one vector lane each; the
// lanes past the block's end sum zeros and are dropped).  Inlined into the search, so that it
// takes the instruction set of the search's build.
[[gnu::always_inline]] inline void inverse_coded_block(const CoefficientMatrix& c, const BlockLengths& j,
                                                       std::size_t block, Residuals& t) {
    using common::simd::Quad;
    using common::simd::quad_at;
    std::size_t offset = 0;
    for (std::size_t i = 0; i < block; ++i) offset += j[i];
    const std::size_t n = j[block];
    const auto& rows = common::built_once<build_coded_cosines>()[n];
    const std::size_t terms = std::min(n, CODED_COEFFICIENTS);
    std::array<double, CODED_COEFFICIENTS> twice{};
    for (std::size_t k = 1; k < terms; ++k) twice[k] = 2.0 * c[block][k];
    const double first = c[block][0];
    alignas(32) std::array<double, PADDED_BLOCK> sum;
    for (std::size_t m = 0; m < n; m += 4) {
        Quad s = Quad{first, first, first, first} * Quad(quad_at(rows[0].data() + m));
        for (std::size_t k = 1; k < terms; ++k) {
            s += Quad{twice[k], twice[k], twice[k], twice[k]} * Quad(quad_at(rows[k].data() + m));
        }
        quad_at(sum.data() + m) = s;
    }
    std::copy_n(sum.begin(), n, t.begin() + static_cast<std::ptrdiff_t>(offset));
}

struct Voicing {
    std::uint16_t index = 0;
    double mismatch = 0.0;                // weighted count of harmonics decoded with the wrong voicing
    Residuals offset{};                   // decoded log2 amplitude minus rebuilt log2 value
};

}  // namespace

// Built for AVX2 and for the baseline instruction set (the same operations in the same order).
OSTREL_AVX2_CLONES
std::expected<InfoVectors, DecodeError> quantize_by_reconstruction(const MbeParams& params, DecoderState& state) {
    // The plain quantizer gives the starting indices and, in its state, the log2 values it coded.
    DecoderState analysed = state;
    QuantizerTargets targets;
    const auto plain = quantize(params, analysed, targets);
    if (!plain) return plain;
    BValues b = priority::deprioritize(*plain);
    const std::uint8_t l = tables::PITCH[b[0]].harmonics;
    if (l != params.harmonic_count()) {
        (void)dequantize(*plain, state);
        return plain;
    }
    const BlockLengths j = block_lengths(l);
    const double omega0 = static_cast<double>(tables::PITCH[b[0]].omega0);

    // The error is judged on the amplitudes a decoder outputs, voicing included.
    Residuals target{};
    double peak = -std::numeric_limits<double>::infinity();
    // (A voiced harmonic's log2 amplitude is what the plain quantizer coded and left in its state.)
    for (std::size_t i = 0; i < l; ++i) {
        const double m = params.amplitudes()[i];
        if (!(m > 0.0)) {
            target[i] = -std::numeric_limits<double>::infinity();
        } else {
            target[i] = params.voiced()[i] ? analysed.previous_lambda[i + 1] : std::log2(m);
        }
        peak = std::max(peak, target[i]);
    }
    Residuals weight{};
    for (std::size_t i = 0; i < l; ++i) {
        target[i] = std::max(target[i], peak - LEVEL_FLOOR);
        weight[i] = std::exp2(LEVEL_WEIGHT_EXPONENT * (target[i] - peak));
    }

    // Voicing: the entries whose decoded voicing disagrees least, harmonics weighted as above;
    // the plain entry always stays in the running.
    std::array<Voicing, VOICING_CANDIDATES> voicing{};
    {
        std::array<std::size_t, L_HAT_MAX> band{};
        for (std::size_t i = 0; i < l; ++i) band[i] = band_of(i + 1, omega0);
        using common::simd::Quad;
        constexpr std::size_t QUADS = std::tuple_size_v<EntryLanes> / 4;
        std::array<Quad, QUADS> sums{};
        for (std::size_t i = 0; i < l; ++i) {
            const EntryLanes& disagrees = DISAGREES[params.voiced()[i] ? 1 : 0][band[i]];
            const Quad w = {weight[i], weight[i], weight[i], weight[i]};
            for (std::size_t k = 0; k < QUADS; ++k) sums[k] += w * common::simd::quad_at(&disagrees[4 * k]);
        }
        EntryLanes mismatch;
        for (std::size_t e = 0; e < mismatch.size(); ++e) mismatch[e] = sums[e / 4][e % 4];
        voicing[0].index = b[1];
        std::size_t kept = 1;
        for (std::size_t e = 0; e < mismatch.size(); ++e) {
            if (e == b[1]) continue;
            std::size_t slot = kept < VOICING_CANDIDATES ? kept++ : VOICING_CANDIDATES;
            while (slot > 1 && mismatch[e] < mismatch[voicing[slot - 1].index]) {
                if (slot < VOICING_CANDIDATES) voicing[slot] = voicing[slot - 1];
                --slot;
            }
            if (slot < VOICING_CANDIDATES) voicing[slot].index = static_cast<std::uint16_t>(e);
        }
        const double unvoiced = std::log2(UNVOICED_SCALE / std::sqrt(omega0));
        for (Voicing& v : voicing) {
            v.mismatch = mismatch[v.index];
            for (std::size_t i = 0; i < l; ++i) {
                v.offset[i] = tables::VUV_CODEBOOK[v.index][band[i]] ? 0.0 : unvoiced;
            }
        }
    }

    // The codebook targets exactly as the plain quantizer formed them.
    const CoefficientMatrix& c = targets.coefficients;
    const Prba& g = targets.prba;

    std::array<Candidates, SEARCHED> candidates;
    for (std::size_t s = 0; s < SEARCHED; ++s) candidates[s].index[0] = b[FIRST_SEARCHED + s];
    Candidates& gain = candidates[0];
    if (b[2] > 0) gain.index[gain.count++] = static_cast<std::uint16_t>(b[2] - 1);
    if (b[2] + 1u < tables::GAIN_LEVELS.size()) gain.index[gain.count++] = static_cast<std::uint16_t>(b[2] + 1);
    keep(candidates[1], nearest_entries<PRBA_CANDIDATES>(prba24_columns(), {g[1], g[2], g[3]}));
    keep(candidates[2], nearest_entries<PRBA_CANDIDATES>(prba58_columns(), {g[4], g[5], g[6], g[7]}));
    for (std::size_t i = 0; i < BLOCK_COUNT; ++i) {
        // Blocks of two coefficients or fewer carry no higher-order entry.
        if (j[i] <= 2) continue;
        const std::array<double, 4> hoc = hoc_target(c, j, i);
        switch (i) {
            case 0: keep(candidates[3], nearest_entries<HOC_CANDIDATES>(hoc_b5_columns(), hoc)); break;
            case 1: keep(candidates[4], nearest_entries<HOC_CANDIDATES>(hoc_b6_columns(), hoc)); break;
            case 2: keep(candidates[5], nearest_entries<HOC_CANDIDATES>(hoc_b7_columns(), hoc)); break;
            default: keep(candidates[6], nearest_entries<HOC_CANDIDATES>(hoc_b8_columns(), hoc)); break;
        }
    }

    // The rebuild is affine in every codebook's entry, so each candidate's effect is one rebuild
    // with that index alone changed, and any combination adds the effects of its indices.  The
    // gain level adds to every harmonic alike, so its effect needs no rebuild.
    // (reconstruct_log_amplitudes step by step, keeping the residuals: a higher-order entry
    // shapes its own block only, so its rebuild inverts that block alone over them, the same
    // values as a whole rebuild at a quarter of the DCTs.)
    const PredictionBasis& basis = targets.basis;
    const CoefficientMatrix base_coefficients = frame_coefficients(b, j);
    const Residuals base_residuals = inverse_block_dct(base_coefficients, j);
    const double gamma = frame_gain(b, state);
    const Residuals base = apply_log_prediction(base_residuals, gamma, basis);
    for (std::size_t m = 1; m < gain.count; ++m) {
        const double step = static_cast<double>(tables::GAIN_LEVELS[gain.index[m]]) -
                            static_cast<double>(tables::GAIN_LEVELS[gain.index[0]]);
        std::fill_n(gain.delta[m].begin(), l, step);
    }
    // (frame_coefficients of the alternative indices: a PRBA entry changes the first two
    // columns, a higher-order entry its own block's row, the rest stays as in the plain choice.
    // A higher-order entry leaves the other blocks' residuals as they were, and with them their
    // harmonics' prediction terms before the mean (prediction_head) and the running sum of the
    // residuals up to its block: those are taken from the plain choice's.)
    Residuals base_head{};
    std::array<double, L_HAT_MAX + 1> base_prefix{};  // [i]: the plain residuals' sum over harmonics 0..i-1
    for (std::size_t i = 0; i < l; ++i) {
        base_head[i] = prediction_head(base_residuals[i], i, gamma, basis);
        base_prefix[i + 1] = base_prefix[i] + base_residuals[i];
    }
    CoefficientMatrix alternative = base_coefficients;
    for (std::size_t s = 1; s < SEARCHED; ++s) {
        for (std::size_t m = 1; m < candidates[s].count; ++m) {
            Residuals& delta = candidates[s].delta[m];
            if (s < 3) {
                BValues indices = b;
                indices[FIRST_SEARCHED + s] = candidates[s].index[m];
                set_prba_columns(alternative, inverse_prba_dct(prba_values(indices)));
                Residuals t{};
                for (std::size_t block = 0; block < BLOCK_COUNT; ++block) inverse_coded_block(alternative, j, block, t);
                const Residuals rebuilt = apply_log_prediction(t, gamma, basis);
                for (std::size_t i = 0; i < l; ++i) delta[i] = rebuilt[i] - base[i];
            } else {
                // apply_log_prediction of the plain residuals with this block replaced.
                const std::size_t block = s - 3;
                set_hoc_row(alternative, block, candidates[s].index[m], j);
                Residuals t;  // only the block's entries are written and read
                inverse_coded_block(alternative, j, block, t);
                std::size_t first = 0;
                for (std::size_t i = 0; i < block; ++i) first += j[i];
                const std::size_t end = first + j[block];
                double t_sum = base_prefix[first];
                for (std::size_t i = first; i < end; ++i) t_sum += t[i];
                for (std::size_t i = end; i < l; ++i) t_sum += base_residuals[i];
                const double t_mean = t_sum / static_cast<double>(l);
                for (std::size_t i = 0; i < first; ++i) delta[i] = (base_head[i] - t_mean) - base[i];
                for (std::size_t i = first; i < end; ++i) {
                    delta[i] = (prediction_head(t[i], i, gamma, basis) - t_mean) - base[i];
                }
                for (std::size_t i = end; i < l; ++i) delta[i] = (base_head[i] - t_mean) - base[i];
            }
        }
        alternative = base_coefficients;
    }
    // The PRBA58 lanes past its candidates add nothing that is read; zeros keep them defined.
    for (std::size_t m = candidates[2].count; m < MAX_CANDIDATES; ++m) std::fill_n(candidates[2].delta[m].begin(), l, 0.0);

    // Voicing, gain and the two PRBA codebooks move the whole spectrum: search them jointly.
    // For one voicing and gain, the PRBA24 x PRBA58 candidates are costed together, a vector
    // lane per PRBA24 candidate in one of four accumulators per PRBA58 candidate, every lane
    // adding the same terms in the same order as a single candidate's sum
    // ((error + gain) + PRBA24) + PRBA58, squared and weighted.
    using common::simd::Quad;
    static_assert(PRBA_CANDIDATES <= 4, "one lane per PRBA24 candidate, one accumulator per PRBA58 candidate");
    std::array<Quad, L_HAT_MAX> prba24_delta;
    for (std::size_t i = 0; i < l; ++i) {
        prba24_delta[i] = Quad{};
        for (std::size_t p = 0; p < candidates[1].count; ++p) prba24_delta[i][p] = candidates[1].delta[p][i];
    }
    const auto& prba58 = candidates[2].delta;
    std::array<std::size_t, 4> best{};
    double best_cost = std::numeric_limits<double>::infinity();
    Residuals error{};
    // A cost only grows from its voicing term as the harmonics' weighted squares add to it, and
    // only a strictly smaller one replaces the best: a voicing whose term alone reaches the best
    // cost, or a gain whose sixteen partial costs all do, can no longer win and is left early.
    const auto any_below = [](const std::array<Quad, PRBA_CANDIDATES>& total, double bound) {
        const Quad limit = {bound, bound, bound, bound};
        auto below = total[0] < limit;
        for (std::size_t q = 1; q < PRBA_CANDIDATES; ++q) below |= total[q] < limit;
        return (below[0] | below[1] | below[2] | below[3]) != 0;
    };
    constexpr std::size_t PRUNE_STEP = 8;  // harmonics between the tests
    for (std::size_t v = 0; v < VOICING_CANDIDATES; ++v) {
        const double voicing_cost = VOICING_MISMATCH * voicing[v].mismatch;
        if (!(voicing_cost < best_cost)) continue;
        for (std::size_t i = 0; i < l; ++i) error[i] = base[i] + voicing[v].offset[i] - target[i];
        for (std::size_t a = 0; a < gain.count; ++a) {
            std::array<Quad, PRBA_CANDIDATES> total;
            total.fill(Quad{} + VOICING_MISMATCH * voicing[v].mismatch);
            bool open = true;
            for (std::size_t start = 0; start < l && open; start += PRUNE_STEP) {
                const std::size_t stop = std::min<std::size_t>(l, start + PRUNE_STEP);
                for (std::size_t i = start; i < stop; ++i) {
                    const double with_gain = error[i] + gain.delta[a][i];
                    const Quad partial = Quad{with_gain, with_gain, with_gain, with_gain} + prba24_delta[i];
                    const Quad w = {weight[i], weight[i], weight[i], weight[i]};
                    for (std::size_t q = 0; q < PRBA_CANDIDATES; ++q) {
                        const Quad e = partial + prba58[q][i];
                        total[q] += w * e * e;
                    }
                }
                open = any_below(total, best_cost);
            }
            if (!open) continue;
            for (std::size_t p = 0; p < candidates[1].count; ++p) {
                for (std::size_t q = 0; q < candidates[2].count; ++q) {
                    if (total[q][p] < best_cost) {
                        best_cost = total[q][p];
                        best = {v, a, p, q};
                    }
                }
            }
        }
    }
    b[1] = voicing[best[0]].index;
    for (std::size_t i = 0; i < l; ++i) error[i] = base[i] + voicing[best[0]].offset[i] - target[i];
    for (std::size_t s = 0; s < 3; ++s) {
        b[FIRST_SEARCHED + s] = candidates[s].index[best[1 + s]];
        for (std::size_t i = 0; i < l; ++i) error[i] += candidates[s].delta[best[1 + s]][i];
    }
    // Each higher-order codebook shapes its own block only: one pass, each given all the others.
    // The candidates' sums run side by side (each in its own order), so that the processor
    // overlaps their chains of additions; the lanes past a codebook's candidates sum zeros.
    for (std::size_t s = 3; s < SEARCHED; ++s) {
        for (std::size_t m = candidates[s].count; m < HOC_CANDIDATES; ++m) {
            std::fill_n(candidates[s].delta[m].begin(), l, 0.0);
        }
        std::array<double, HOC_CANDIDATES> total{};
        for (std::size_t i = 0; i < l; ++i) {
            for (std::size_t m = 0; m < HOC_CANDIDATES; ++m) {
                const double e = error[i] + candidates[s].delta[m][i];
                total[m] += weight[i] * e * e;
            }
        }
        std::size_t chosen = 0;
        double chosen_cost = std::numeric_limits<double>::infinity();
        for (std::size_t m = 0; m < candidates[s].count; ++m) {
            if (total[m] < chosen_cost) {
                chosen_cost = total[m];
                chosen = m;
            }
        }
        b[FIRST_SEARCHED + s] = candidates[s].index[chosen];
        for (std::size_t i = 0; i < l; ++i) error[i] += candidates[s].delta[chosen][i];
    }

    // Closed loop: the state moves only through what a decoder of the sent vectors does.  Should a
    // decoder refuse the searched frame, the plain one goes out instead.
    const InfoVectors u = priority::prioritize(b);
    if (dequantize_state(b, state, basis)) return u;
    (void)dequantize(*plain, state);
    return plain;
}

}  // namespace ostrel_mbe::ambe_plus2_wire::dequantize
