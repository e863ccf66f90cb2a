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
    codecs::mbe_baseline::FrameDisposition disposition = codecs::mbe_baseline::FrameDisposition::None;
    std::uint8_t e0 = 0;
    std::uint8_t total = 0;
};

}  // namespace ostrel_mbe
