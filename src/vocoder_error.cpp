// SPDX-License-Identifier: GPL-2.0-or-later
#include "vocoder_error.h"

namespace ostrel_mbe {

namespace {
template <class... Fs>
struct Overloaded : Fs... {
    using Fs::operator()...;
};

std::string str(std::size_t n) { return std::to_string(n); }
std::string str(std::string_view s) { return std::string(s); }
}  // namespace

std::string VocoderError::display() const {
    return std::visit(
        Overloaded{
            [](const WrongPcmLength& e) {
                return "expected " + str(e.expected) + " PCM samples per frame, got " + str(e.got);
            },
            // "FEC bytes" for every rate, the no-FEC rates included: callers match on this text.
            [](const WrongBitsLength& e) {
                return "expected " + str(e.expected) + " FEC bytes per frame, got " + str(e.got);
            },
            [](const WrongSoftLength& e) {
                return "expected " + str(e.expected) + " soft values per frame (one per wire bit), got " + str(e.got);
            },
            [](const NonFiniteSoft& e) { return "soft value " + str(e.index) + " is not finite"; },
            [](const Analysis& e) { return "analysis encoder error: " + str(debug_name(e.error)); },
            [](const Quantize& e) { return "quantize error: " + e.text; },
            [](const UnsupportedTranscode& e) {
                return "unsupported transcode direction: " + str(debug_name(e.from)) + " -> " + str(debug_name(e.to));
            },
        },
        value);
}

std::string VocoderError::debug() const {
    return std::visit(
        Overloaded{
            [](const WrongPcmLength& e) {
                return "WrongPcmLength { expected: " + str(e.expected) + ", got: " + str(e.got) + " }";
            },
            [](const WrongBitsLength& e) {
                return "WrongBitsLength { expected: " + str(e.expected) + ", got: " + str(e.got) + " }";
            },
            [](const WrongSoftLength& e) {
                return "WrongSoftLength { expected: " + str(e.expected) + ", got: " + str(e.got) + " }";
            },
            [](const NonFiniteSoft& e) { return "NonFiniteSoft { index: " + str(e.index) + " }"; },
            [](const Analysis& e) { return "Analysis(" + str(debug_name(e.error)) + ")"; },
            [](const Quantize& e) { return "Quantize(\"" + e.text + "\")"; },
            [](const UnsupportedTranscode& e) {
                return "UnsupportedTranscode { from: " + str(debug_name(e.from)) + ", to: " + str(debug_name(e.to)) + " }";
            },
        },
        value);
}

}  // namespace ostrel_mbe
