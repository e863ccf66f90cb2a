// SPDX-License-Identifier: GPL-2.0-or-later
// Soak: one decoding channel fed 10^7 frames and one encoding channel fed 10^6 frames, with the
// resident memory and the time per frame printed for the first and the last stretch of each
// run (and every tenth of the way), so that growth in either shows up.
//
// Decode input: the bundled speech clip encoded at the rate, then passed through a channel with
// random bit errors at several error rates in turn (0, 0.1 %, 1 %, 5 %, 10 %, 25 %), with a
// burst of random bytes every few hundred frames.  Encode input: the clip over and over, at a
// gain and with noise that change on every pass.
//
//   soak [--rate 0..3] [--decode N] [--encode N] [--speech PATH]   (bench/soak.sh builds and runs it)
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <ctime>
#include <string>
#include <unistd.h>
#include <vector>

#include "vocoder.h"

using namespace ostrel_mbe;

namespace {

// Resident set size now, from /proc/self/statm.
double resident_mib() {
    long pages = 0, resident = 0;
    if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// The samples of a 16-bit mono WAV file (the bundled clip).
std::vector<std::int16_t> read_wav(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<unsigned char> data((std::istreambuf_iterator<char>(in)), {});
    std::size_t pos = 12;
    while (pos + 8 <= data.size()) {
        std::uint32_t size = 0;
        std::memcpy(&size, &data[pos + 4], 4);
        if (std::memcmp(&data[pos], "data", 4) == 0) {
            std::vector<std::int16_t> pcm(std::min<std::size_t>(size, data.size() - pos - 8) / 2);
            std::memcpy(pcm.data(), &data[pos + 8], pcm.size() * 2);
            return pcm;
        }
        pos += 8 + size + (size & 1u);
    }
    std::fprintf(stderr, "soak: no data chunk in %s\n", path.c_str());
    std::exit(2);
}

struct Rng {
    std::uint64_t s = 0x9E3779B97F4A7C15ull;
    std::uint64_t next() {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return s;
    }
    double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
};

// CPU time of this thread, in microseconds: unlike the wall clock, it does not count the time
// other processes of a shared machine take.
double thread_cpu_us() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

// Times a run of `total` calls of step(i) and prints memory and time per frame (wall clock and
// CPU) for stretches of `window` frames: the first, every tenth of the way, and the last.
template <class Step>
void soak(const char* label, std::size_t total, std::size_t window, Step step) {
    using clock = std::chrono::steady_clock;
    std::printf("%s: %zu frames\n", label, total);
    std::printf("  %20s %8s %14s %14s\n", "frames", "RSS MiB", "wall us/frame", "CPU us/frame");
    const std::size_t tenth = std::max<std::size_t>(total / 10, 1);
    const auto starts_stretch = [&](std::size_t i) { return (i % tenth == 0 && i + window <= total) || i + window == total; };
    auto started = clock::now();
    double started_cpu = 0.0;
    for (std::size_t i = 0; i < total; ++i) {
        if (starts_stretch(i)) {
            started = clock::now();
            started_cpu = thread_cpu_us();
        }
        step(i);
        const std::size_t done = i + 1;
        if (done >= window && starts_stretch(done - window)) {
            const double us = std::chrono::duration<double, std::micro>(clock::now() - started).count();
            const double cpu = thread_cpu_us() - started_cpu;
            const double n = static_cast<double>(window);
            std::printf("  %9zu..%-9zu %8.1f %14.2f %14.2f%s\n", done - window, done, resident_mib(), us / n, cpu / n,
                        done == window ? "  start" : done == total ? "  end" : "");
            std::fflush(stdout);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    Rate rate = Rate::Imbe7200x4400;
    std::size_t decode_frames = 10'000'000, encode_frames = 1'000'000;
    std::string speech = "python/ostrel_mbe/data/speech_8k.wav";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--rate") rate = static_cast<Rate>(std::atoi(argv[i + 1]) & 3);
        else if (arg == "--decode") decode_frames = std::strtoull(argv[i + 1], nullptr, 10);
        else if (arg == "--encode") encode_frames = std::strtoull(argv[i + 1], nullptr, 10);
        else if (arg == "--speech") speech = argv[i + 1];
    }
    const auto pcm = read_wav(speech);
    const std::size_t clip_frames = pcm.size() / FRAME_SAMPLES;
    const std::size_t bytes = wire_bytes(rate);
    std::printf("rate %s, %zu-frame speech clip, start RSS %.1f MiB\n", std::string(debug_name(rate)).c_str(),
                clip_frames, resident_mib());

    // The clip's wire frames at this rate.
    std::vector<std::uint8_t> clip;
    Vocoder encoder(rate);
    for (std::size_t f = 0; f < clip_frames; ++f) {
        const auto frame = encoder.encode_pcm(std::span(pcm).subspan(f * FRAME_SAMPLES, FRAME_SAMPLES));
        if (frame) clip.insert(clip.end(), frame->span().begin(), frame->span().end());
    }
    const std::size_t frames_in_clip = clip.size() / bytes;

    constexpr std::array<double, 6> BIT_ERROR_RATES = {0.0, 0.001, 0.01, 0.05, 0.1, 0.25};
    constexpr std::size_t SEGMENT = 5000;  // frames at one error rate
    constexpr std::size_t BURST_EVERY = 700, BURST_LENGTH = 20;
    Rng rng;
    Vocoder decoder(rate);
    std::array<std::uint8_t, 18> frame{};
    std::uint64_t checksum = 0;
    soak("decode", decode_frames, std::min<std::size_t>(100'000, decode_frames / 10), [&](std::size_t i) {
        if (i % BURST_EVERY < BURST_LENGTH) {
            for (std::size_t b = 0; b < bytes; ++b) frame[b] = static_cast<std::uint8_t>(rng.next());
        } else {
            std::memcpy(frame.data(), &clip[(i % frames_in_clip) * bytes], bytes);
            const double ber = BIT_ERROR_RATES[(i / SEGMENT) % BIT_ERROR_RATES.size()];
            if (ber > 0.0) {
                for (std::size_t bit = 0; bit < 8 * bytes; ++bit) {
                    if (rng.uniform() < ber) frame[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
                }
            }
        }
        const auto out = decoder.decode_bits(std::span<const std::uint8_t>(frame.data(), bytes));
        if (!out) std::abort();
        checksum += static_cast<std::uint16_t>((*out)[i % FRAME_SAMPLES]);
    });

    Vocoder channel(rate);
    std::array<std::int16_t, FRAME_SAMPLES> input{};
    std::size_t failures = 0;
    soak("encode", encode_frames, std::min<std::size_t>(10'000, encode_frames / 10), [&](std::size_t i) {
        const std::size_t pass = i / clip_frames;
        const double gain = 0.25 + 0.25 * static_cast<double>(pass % 7);
        const double noise = static_cast<double>(pass % 5) * 100.0;
        const std::int16_t* source = &pcm[(i % clip_frames) * FRAME_SAMPLES];
        for (std::size_t n = 0; n < FRAME_SAMPLES; ++n) {
            const double v = gain * source[n] + noise * (rng.uniform() - 0.5);
            input[n] = static_cast<std::int16_t>(std::clamp(v, -32768.0, 32767.0));
        }
        const auto out = channel.encode_pcm(input);
        if (!out) ++failures;
        else checksum += out->bytes[0];
    });
    std::printf("encode failures %zu, checksum %llu, end RSS %.1f MiB\n", failures,
                static_cast<unsigned long long>(checksum), resident_mib());
    return 0;
}
