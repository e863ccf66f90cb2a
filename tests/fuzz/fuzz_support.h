// SPDX-License-Identifier: GPL-2.0-or-later
// Shared pieces of the libFuzzer targets: an invariant check that names the broken invariant
// before it stops the run, and the channel settings taken from an input's first bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "rate.h"
#include "vocoder.h"

// A failed invariant is a finding: print it and abort, so libFuzzer saves the input.
#define FUZZ_CHECK(condition)                                                                   \
    do {                                                                                        \
        if (!(condition)) {                                                                     \
            std::fprintf(stderr, "invariant failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
            std::abort();                                                                       \
        }                                                                                       \
    } while (false)

namespace ostrel_mbe::fuzz {

inline Rate rate_of(std::uint8_t byte) { return static_cast<Rate>(byte & 3u); }

// Decoder settings from two bytes.
//   a: bits 0-1 rate, 2 enhancement on, 3 baseline synthesis, 4 chip compatibility,
//      5 chip spectral clamp, 6 standard formant weighting, 7 tone detection (encoders)
//   b: bits 0-4 repeat_reset_after (0: none), 5-6 OSTREL_LCG_INIT (unset, burn_160, burn_96,
//      zero), 7 OSTREL_LCG=spec at the reset that every configured channel starts from
// Both environment variables are read at reset or at the first unvoiced synthesis after it, so
// they are set before the reset and stay set while the channel runs.
inline void configure(Vocoder& channel, std::uint8_t a, std::uint8_t b) {
    static constexpr const char* LCG_INIT[] = {nullptr, "burn_160", "burn_96", "zero"};
    if (b & 0x80u) {
        setenv("OSTREL_LCG", "spec", 1);
    } else {
        unsetenv("OSTREL_LCG");
    }
    if (const char* init = LCG_INIT[(b >> 5) & 3u]) {
        setenv("OSTREL_LCG_INIT", init, 1);
    } else {
        unsetenv("OSTREL_LCG_INIT");
    }
    channel.reset();
    channel.set_enhancement((a & 0x04u) ? enhancement::EnhancementMode::Classical : enhancement::EnhancementMode::None);
    channel.set_ambe_plus2_synth((a & 0x08u) ? AmbePlus2Synth::Baseline : AmbePlus2Synth::AmbePlus);
    channel.set_chip_compat((a & 0x10u) != 0);
    channel.set_chip_compat_spectral_clamp((a & 0x20u) != 0);
    channel.set_formant_weighting((a & 0x40u) ? codecs::mbe_baseline::FormantWeighting::Standard
                                              : codecs::mbe_baseline::FormantWeighting::Compat);
    channel.set_tone_detection((a & 0x80u) != 0);
    if (const unsigned n = b & 0x1Fu; n != 0) channel.set_repeat_reset_after(n);
}

}  // namespace ostrel_mbe::fuzz
