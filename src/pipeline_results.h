// SPDX-License-Identifier: GPL-2.0-or-later
// What the per-codec pipelines hand back to the channel for one frame.
#pragma once

#include <cstdint>

#include "codecs/mbe_baseline/synthesis.h"
#include "mbe_params.h"
#include "pipeline_types.h"

namespace ostrel_mbe {

struct EncodeResult {
    WireFrame frame;
    EncodeReport report;
    MbeParams params;  // the parameters actually quantized (or the tone's parameters)
};

struct DecodeResult {
    PcmFrame pcm{};
    DecodeReport report;
};

// The encoder's silence frame as a decoder receives it: the fundamental of pitch index 0
// (silence_omega0) with every harmonic unvoiced.
inline bool is_silence_frame(const MbeParams& params, float silence_omega0) {
    if (params.omega0() != silence_omega0) return false;
    for (bool voiced : params.voiced())
        if (voiced) return false;
    return true;
}

}  // namespace ostrel_mbe
