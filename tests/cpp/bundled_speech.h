// SPDX-License-Identifier: GPL-2.0-or-later
// The samples of the bundled speech clip (16-bit mono 8 kHz PCM in a canonical WAV file), for the
// tests that judge the codec on real speech.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace ostrel_mbe::test_signal {

inline std::vector<std::int16_t> bundled_speech() {
    std::ifstream file(OSTREL_SPEECH_WAV, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(file), {}};
    std::size_t at = 12;
    while (at + 8 <= bytes.size() && std::memcmp(bytes.data() + at, "data", 4) != 0) {
        std::uint32_t size = 0;
        std::memcpy(&size, bytes.data() + at + 4, 4);
        at += 8 + size;
    }
    std::vector<std::int16_t> pcm((bytes.size() - std::min(bytes.size(), at + 8)) / 2);
    if (!pcm.empty()) std::memcpy(pcm.data(), bytes.data() + at + 8, pcm.size() * 2);
    return pcm;
}

}  // namespace ostrel_mbe::test_signal
