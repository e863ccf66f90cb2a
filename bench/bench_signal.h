// SPDX-License-Identifier: GPL-2.0-or-later
// Speech-like test signal shared by the benchmarks: a glottal-pulse-like harmonic series with
// a gliding pitch and a syllabic amplitude envelope, plus a little noise; and its wire frames.
// Voiced from start to end with every harmonic up to 3.8 kHz, it is the decoder's costliest
// kind of speech.  Recorded speech can be read from a WAV file instead.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <numbers>
#include <random>
#include <span>
#include <utility>
#include <vector>

#include "vocoder.h"

namespace ostrel_mbe::bench {

inline std::vector<std::int16_t> speech_like(std::size_t samples, unsigned seed = 7) {
    std::vector<std::int16_t> out(samples);
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 150.0);
    double phase = 0.0;
    for (std::size_t n = 0; n < samples; ++n) {
        const double t = static_cast<double>(n) / 8000.0;
        const double f0 = 120.0 + 40.0 * std::sin(2.0 * std::numbers::pi * 0.7 * t);
        const double envelope = 0.5 + 0.5 * std::sin(2.0 * std::numbers::pi * 3.0 * t);
        phase += 2.0 * std::numbers::pi * f0 / 8000.0;
        double s = 0.0;
        for (int h = 1; h * f0 < 3800.0; ++h) s += std::sin(h * phase) / (1.0 + 0.3 * h);
        out[n] = static_cast<std::int16_t>(std::lround(std::clamp(5000.0 * envelope * s + noise(rng), -32768.0, 32767.0)));
    }
    return out;
}

// The samples of a canonical WAV file of 16-bit mono 8 kHz PCM (the bundled speech), whole
// frames only; empty when the file cannot be read or is not of that form.
inline std::vector<std::int16_t> wav_pcm(const char* path) {
    std::ifstream file(path, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(file), {}};
    const auto u16 = [&](std::size_t at) {
        return static_cast<unsigned>(static_cast<unsigned char>(bytes[at])) |
               static_cast<unsigned>(static_cast<unsigned char>(bytes[at + 1])) << 8;
    };
    const auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 || std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
        return {};
    }
    bool pcm16_mono_8k = false;
    for (std::size_t at = 12; at + 8 <= bytes.size();) {
        const std::size_t size = u32(at + 4);
        if (std::memcmp(bytes.data() + at, "fmt ", 4) == 0 && size >= 16 && at + 24 <= bytes.size()) {
            pcm16_mono_8k = u16(at + 8) == 1 && u16(at + 10) == 1 && u32(at + 12) == 8000 && u16(at + 22) == 16;
        } else if (std::memcmp(bytes.data() + at, "data", 4) == 0 && pcm16_mono_8k) {
            const std::size_t available = std::min(size, bytes.size() - (at + 8)) / 2;
            std::vector<std::int16_t> pcm(available / FRAME_SAMPLES * FRAME_SAMPLES);
            std::memcpy(pcm.data(), bytes.data() + at + 8, pcm.size() * 2);
            return pcm;
        }
        at += 8 + size + (size & 1);
    }
    return {};
}

// pcm (whole frames) encoded at `rate` by a fresh channel.
inline std::vector<WireFrame> encoded_stream(Rate rate, std::span<const std::int16_t> pcm) {
    Vocoder enc(rate);
    std::vector<WireFrame> out;
    for (std::size_t at = 0; at + FRAME_SAMPLES <= pcm.size(); at += FRAME_SAMPLES) {
        out.push_back(*enc.encode_pcm(pcm.subspan(at, FRAME_SAMPLES)));
    }
    return out;
}

// The first `frames` frames of speech_like encoded at `rate` by a fresh channel.
inline std::vector<WireFrame> encoded_stream(Rate rate, std::size_t frames) {
    return encoded_stream(rate, speech_like(frames * FRAME_SAMPLES));
}

// One soft value per wire bit: the bit's sign with a pseudo-random confidence, some of it wrong.
inline std::vector<std::vector<float>> soft_stream(const std::vector<WireFrame>& frames) {
    std::vector<std::vector<float>> out;
    std::uint32_t seed = 12345;
    for (const auto& f : frames) {
        std::vector<float> soft;
        for (std::uint8_t byte : f.span()) {
            for (int b = 7; b >= 0; --b) {
                seed = seed * 1664525u + 1013904223u;
                const float confidence = static_cast<float>(seed >> 8) / 16777216.0f * 2.0f - 0.1f;
                soft.push_back(((byte >> b) & 1) ? confidence : -confidence);
            }
        }
        out.push_back(std::move(soft));
    }
    return out;
}

}  // namespace ostrel_mbe::bench
