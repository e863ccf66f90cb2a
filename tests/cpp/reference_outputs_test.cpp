// SPDX-License-Identifier: GPL-2.0-or-later
// The codec's output for the bundled speech against what it produced when
// tests/python/data/reference_outputs.npz was recorded on x86-64 (tools/make_reference_outputs.py),
// with the tolerances of the Python reference test.  Built for another architecture and run
// there (or under emulation), this is the check that it encodes and decodes like x86-64: only
// FFTW's kernels differ between the two, and they move nothing beyond rounding.
#include "vocoder.h"
#include "bundled_speech.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace ostrel_mbe {
namespace {

// At most this far apart per decoded sample, and at most this many of the encoded frames differ
// (a quantizer decision on a rounding tie, which the closed-loop predictor carries a frame or two).
constexpr int MAX_PCM_DIFFERENCE = 1;
constexpr std::size_t MAX_DIFFERING_FRAMES = 3;

// One array of a .npy file: its dtype text ("|u1", "<i2"), shape and raw little-endian bytes.
struct NpyArray {
    std::string descr;
    std::vector<std::size_t> shape;
    std::vector<std::uint8_t> data;
};

template <typename T>
T little_endian(const std::uint8_t* p) {
    std::uint64_t v = 0;
    for (std::size_t i = sizeof(T); i-- > 0;) v = (v << 8) | p[i];
    return static_cast<T>(v);
}

NpyArray parse_npy(const std::vector<std::uint8_t>& file) {
    if (file.size() < 12 || std::memcmp(file.data(), "\x93NUMPY", 6) != 0) throw std::runtime_error("not .npy");
    const bool short_header = file[6] == 1;
    const std::size_t header_at = short_header ? 10 : 12;
    const std::size_t length = short_header ? little_endian<std::uint16_t>(&file[8]) : little_endian<std::uint32_t>(&file[8]);
    const std::string header(file.begin() + static_cast<std::ptrdiff_t>(header_at),
                             file.begin() + static_cast<std::ptrdiff_t>(header_at + length));
    if (header.find("'fortran_order': False") == std::string::npos) throw std::runtime_error("Fortran order");
    NpyArray out;
    const std::size_t d = header.find("'descr': '") + 10;
    out.descr = header.substr(d, header.find('\'', d) - d);
    const char* s = header.c_str() + header.find("'shape': (") + 10;
    for (char* end = nullptr;; s = end + 1) {
        const unsigned long n = std::strtoul(s, &end, 10);
        if (end == s) break;
        out.shape.push_back(n);
        if (*end != ',') break;
    }
    out.data.assign(file.begin() + static_cast<std::ptrdiff_t>(header_at + length), file.end());
    return out;
}

// The arrays of a .npz file as numpy.savez_compressed writes it: a zip of deflated .npy members,
// walked through their local headers.
std::map<std::string, NpyArray> read_npz(const char* path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> zip{std::istreambuf_iterator<char>(in), {}};
    std::map<std::string, NpyArray> arrays;
    std::size_t at = 0;
    while (at + 30 <= zip.size() && little_endian<std::uint32_t>(&zip[at]) == 0x04034b50) {
        const auto flags = little_endian<std::uint16_t>(&zip[at + 6]);
        const auto method = little_endian<std::uint16_t>(&zip[at + 8]);
        const std::size_t name_length = little_endian<std::uint16_t>(&zip[at + 26]);
        const std::size_t extra_length = little_endian<std::uint16_t>(&zip[at + 28]);
        std::string name(reinterpret_cast<const char*>(&zip[at + 30]), name_length);
        if (method != Z_DEFLATED || (flags & 0x8) != 0) throw std::runtime_error(name + ": not plainly deflated");
        z_stream z{};
        if (inflateInit2(&z, -MAX_WBITS) != Z_OK) throw std::runtime_error("inflateInit2");
        const std::size_t data_at = at + 30 + name_length + extra_length;
        z.next_in = const_cast<Bytef*>(&zip[data_at]);
        z.avail_in = static_cast<uInt>(zip.size() - data_at);
        std::vector<std::uint8_t> member;
        int status = Z_OK;
        while (status == Z_OK) {
            member.resize(member.size() + 65536);
            z.next_out = member.data() + z.total_out;
            z.avail_out = static_cast<uInt>(member.size() - z.total_out);
            status = inflate(&z, Z_NO_FLUSH);
        }
        member.resize(z.total_out);
        at = data_at + z.total_in;
        inflateEnd(&z);
        if (status != Z_STREAM_END) throw std::runtime_error(name + ": corrupt");
        if (name.ends_with(".npy")) name.resize(name.size() - 4);
        arrays.emplace(name, parse_npy(member));
    }
    return arrays;
}

const std::map<std::string, NpyArray>& reference() {
    static const std::map<std::string, NpyArray> arrays = read_npz(OSTREL_REFERENCE_OUTPUTS);
    return arrays;
}

// The rows of a 2-D array of `descr`, each as a vector of T.
template <typename T>
std::vector<std::vector<T>> rows(const std::string& key, const char* descr) {
    const auto found = reference().find(key);
    if (found == reference().end()) throw std::runtime_error(key + " missing from the reference outputs");
    const NpyArray& a = found->second;
    EXPECT_EQ(a.descr, descr) << key;
    EXPECT_EQ(a.shape.size(), 2u) << key;
    if (a.descr != descr || a.shape.size() != 2 || a.data.size() != a.shape[0] * a.shape[1] * sizeof(T)) return {};
    std::vector<std::vector<T>> out(a.shape[0], std::vector<T>(a.shape[1]));
    for (std::size_t r = 0; r < out.size(); ++r) {
        for (std::size_t c = 0; c < a.shape[1]; ++c) {
            out[r][c] = little_endian<T>(&a.data[(r * a.shape[1] + c) * sizeof(T)]);
        }
    }
    return out;
}

struct Case {
    const char* name;
    Rate rate;
};
class ReferenceOutputs : public ::testing::TestWithParam<Case> {};
INSTANTIATE_TEST_SUITE_P(BundledSpeech, ReferenceOutputs,
                         ::testing::Values(Case{"imbe7200", Rate::Imbe7200x4400}, Case{"imbe4400", Rate::Imbe4400x4400},
                                           Case{"ambe3600", Rate::AmbePlus2_3600x2450},
                                           Case{"ambe2450", Rate::AmbePlus2_2450x2450}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST_P(ReferenceOutputs, DecodedPcmMatches) {
    const auto frames = rows<std::uint8_t>(std::string(GetParam().name) + "_decode_in", "|u1");
    const auto expected = rows<std::int16_t>(std::string(GetParam().name) + "_pcm", "<i2");
    ASSERT_EQ(frames.size(), expected.size());
    ASSERT_FALSE(frames.empty());
    Vocoder dec(GetParam().rate);
    int largest = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const auto pcm = dec.decode_bits(frames[i]);
        ASSERT_TRUE(pcm) << "frame " << i;
        for (std::size_t n = 0; n < FRAME_SAMPLES; ++n) {
            const int difference = std::abs((*pcm)[n] - expected[i][n]);
            EXPECT_LE(difference, MAX_PCM_DIFFERENCE) << "frame " << i << " sample " << n;
            largest = std::max(largest, difference);
        }
    }
    RecordProperty("largest_pcm_difference", largest);
}

TEST_P(ReferenceOutputs, EncodedFramesMatch) {
    const auto expected = rows<std::uint8_t>(std::string(GetParam().name) + "_frames", "|u1");
    ASSERT_FALSE(expected.empty());
    const std::vector<std::int16_t> speech = test_signal::bundled_speech();
    ASSERT_GE(speech.size(), expected.size() * FRAME_SAMPLES);
    Vocoder enc(GetParam().rate);
    std::vector<std::size_t> differing;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const auto frame = enc.encode_pcm(std::span(speech).subspan(i * FRAME_SAMPLES, FRAME_SAMPLES));
        ASSERT_TRUE(frame) << "frame " << i;
        if (!std::ranges::equal(frame->span(), expected[i])) differing.push_back(i);
    }
    RecordProperty("differing_frames", static_cast<int>(differing.size()));
    EXPECT_LE(differing.size(), MAX_DIFFERING_FRAMES) << ::testing::PrintToString(differing) << " differ";
}

}  // namespace
}  // namespace ostrel_mbe
