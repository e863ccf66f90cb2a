// SPDX-License-Identifier: GPL-2.0-or-later
// The C interface (ostrel_mbe.h) over Vocoder, LiveEncoder, LiveDecoder and Transcoder: checks
// every pointer and length, copies results into the caller's buffers and turns VocoderError
// into return codes.  Nothing thrown inside crosses the boundary.
#include "ostrel_mbe.h"

#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>
#include <new>
#include <optional>
#include <type_traits>

#include "live.h"
#include "transcoder.h"
#include "vocoder.h"
#include "whole_buffer.h"

// Each handle holds its library object as `core`.
struct ostrel_mbe_vocoder {
    ostrel_mbe::Vocoder core;
};
struct ostrel_mbe_live_encoder {
    ostrel_mbe::LiveEncoder core;
};
struct ostrel_mbe_live_decoder {
    ostrel_mbe::LiveDecoder core;
};
struct ostrel_mbe_transcoder {
    ostrel_mbe::Transcoder core;
};

namespace ostrel_mbe {
namespace {

// Runs f, turning anything thrown (in practice only std::bad_alloc) into a return code.
template <class F>
int guarded(F&& f) noexcept {
    try {
        return f();
    } catch (const std::bad_alloc&) {
        return OSTREL_MBE_ERR_OUT_OF_MEMORY;
    } catch (...) {
        return OSTREL_MBE_ERR_INTERNAL;
    }
}

int code_of(const VocoderError& error) {
    if (std::holds_alternative<VocoderError::WrongPcmLength>(error.value)) return OSTREL_MBE_ERR_WRONG_PCM_LENGTH;
    if (std::holds_alternative<VocoderError::WrongBitsLength>(error.value)) return OSTREL_MBE_ERR_WRONG_FRAME_LENGTH;
    if (std::holds_alternative<VocoderError::WrongSoftLength>(error.value)) return OSTREL_MBE_ERR_WRONG_FRAME_LENGTH;
    if (std::holds_alternative<VocoderError::NonFiniteSoft>(error.value)) return OSTREL_MBE_ERR_BAD_ARGUMENT;
    if (std::holds_alternative<VocoderError::Analysis>(error.value)) return OSTREL_MBE_ERR_ANALYSIS;
    if (std::holds_alternative<VocoderError::Quantize>(error.value)) return OSTREL_MBE_ERR_QUANTIZE;
    return OSTREL_MBE_ERR_UNSUPPORTED_TRANSCODE;
}

std::optional<Rate> rate_of(int rate) {
    if (rate < 0 || rate > 3) return std::nullopt;
    return static_cast<Rate>(rate);
}

// A buffer argument: NULL is allowed only together with length 0.
bool buffer_ok(const void* data, std::size_t length) { return data != nullptr || length == 0; }

// frames * frame_size, or SIZE_MAX when that does not fit (no buffer can be that large).
std::size_t output_size(std::size_t frames, std::size_t frame_size) {
    if (frames > std::numeric_limits<std::size_t>::max() / frame_size) return std::numeric_limits<std::size_t>::max();
    return frames * frame_size;
}

// Hands each frame a stream call completed to copy, in order, skipping the failed ones; the
// first failure's code, or OK.
template <class Results, class Copy>
int copy_frames(const Results& results, Copy&& copy) {
    int first_error = OSTREL_MBE_OK;
    for (const auto& frame : results) {
        if (frame) {
            copy(*frame);
        } else if (first_error == OSTREL_MBE_OK) {
            first_error = code_of(frame.error());
        }
    }
    return first_error;
}

// Frames that pending + input items complete, without overflowing the sum.
std::size_t completed_frames(std::size_t pending, std::size_t input, std::size_t frame_size) {
    return input / frame_size + (input % frame_size + pending) / frame_size;
}

// --- settings: one entry per row of OSTREL_MBE_SETTINGS -------------------------------------

template <class Setter>
struct SetterArgument;
template <class T>
struct SetterArgument<void (Vocoder::*)(T)> {
    using type = std::remove_cvref_t<T>;
};

bool is_integer(double value) { return std::isfinite(value) && value == std::floor(value); }

// The setting's C++ value for a double from C into out; false when out of its range.
template <class T>
bool setting_value(double value, unsigned choices, T& out) {
    if constexpr (std::is_same_v<T, bool>) {
        out = value == 1.0;
        return value == 0.0 || value == 1.0;
    } else if constexpr (std::is_same_v<T, double>) {
        out = value;
        return true;
    } else if constexpr (std::is_same_v<T, std::optional<std::uint32_t>>) {
        if (value == -1.0) {
            out = std::nullopt;
            return true;
        }
        if (!is_integer(value) || value < 0.0 || value > 4294967295.0) return false;
        out = static_cast<std::uint32_t>(value);
        return true;
    } else if constexpr (std::is_same_v<T, std::uint32_t>) {
        if (!is_integer(value) || value < 0.0 || value > 4294967295.0) return false;
        out = static_cast<std::uint32_t>(value);
        return true;
    } else {
        static_assert(std::is_enum_v<T>, "a setting is a bool, a double, a count, an optional count or an enumeration");
        if (!is_integer(value) || value < 0.0 || value >= static_cast<double>(choices)) return false;
        out = static_cast<T>(static_cast<std::underlying_type_t<T>>(value));
        return true;
    }
}

template <class T>
double as_double(T value) {
    if constexpr (std::is_same_v<T, std::optional<std::uint32_t>>) {
        return value ? static_cast<double>(*value) : -1.0;
    } else if constexpr (std::is_enum_v<T>) {
        return static_cast<double>(static_cast<std::underlying_type_t<T>>(value));
    } else {
        return static_cast<double>(value);
    }
}

struct SettingEntry {
    int (*set)(Vocoder&, double);
    double (*get)(const Vocoder&);
};

template <auto Setter, unsigned Choices>
int set_setting(Vocoder& channel, double value) {
    typename SetterArgument<decltype(Setter)>::type converted{};
    if (!setting_value(value, Choices, converted)) return OSTREL_MBE_ERR_BAD_ARGUMENT;
    (channel.*Setter)(converted);
    return OSTREL_MBE_OK;
}

template <auto Getter>
double get_setting(const Vocoder& channel) {
    return as_double((channel.*Getter)());
}

#define OSTREL_MBE_SETTING_ENTRY_(name, accessor, choices) \
    SettingEntry{&set_setting<&Vocoder::set_##accessor, choices>, &get_setting<&Vocoder::accessor>},
constexpr SettingEntry SETTINGS[] = {OSTREL_MBE_SETTINGS(OSTREL_MBE_SETTING_ENTRY_)};
#undef OSTREL_MBE_SETTING_ENTRY_
static_assert(std::size(SETTINGS) == OSTREL_MBE_SETTING_COUNT);

int set(Vocoder& channel, int setting, double value) {
    if (setting < 0 || setting >= OSTREL_MBE_SETTING_COUNT) return OSTREL_MBE_ERR_BAD_ARGUMENT;
    return SETTINGS[setting].set(channel, value);
}

int get(const Vocoder& channel, int setting, double* value) {
    if (value == nullptr) return OSTREL_MBE_ERR_NULL_POINTER;
    if (setting < 0 || setting >= OSTREL_MBE_SETTING_COUNT) return OSTREL_MBE_ERR_BAD_ARGUMENT;
    *value = SETTINGS[setting].get(channel);
    return OSTREL_MBE_OK;
}

// --- reports ---------------------------------------------------------------------------------

int kind_code(FrameKind kind) {
    switch (kind) {
        case FrameKind::Voice: return OSTREL_MBE_KIND_VOICE;
        case FrameKind::Silence: return OSTREL_MBE_KIND_SILENCE;
        case FrameKind::Tone: return OSTREL_MBE_KIND_TONE;
        case FrameKind::Erasure: return OSTREL_MBE_KIND_ERASURE;
        case FrameKind::Invalid: return OSTREL_MBE_KIND_INVALID;
        case FrameKind::Lost: return OSTREL_MBE_KIND_LOST;
    }
    return OSTREL_MBE_KIND_INVALID;
}

int kind_code(OutputKind kind) {
    switch (kind) {
        case OutputKind::Voice: return OSTREL_MBE_KIND_VOICE;
        case OutputKind::Silence: return OSTREL_MBE_KIND_SILENCE;
        case OutputKind::Tone: return OSTREL_MBE_KIND_TONE;
    }
    return OSTREL_MBE_KIND_VOICE;
}

int encode_report(const Vocoder& channel, ostrel_mbe_encode_report* out) {
    if (out == nullptr) return OSTREL_MBE_ERR_NULL_POINTER;
    *out = {};
    const std::optional<OutputKind> kind = channel.last_output_kind();
    out->kind = kind ? kind_code(*kind) : OSTREL_MBE_KIND_NONE;
    if (const std::optional<ToneReport> tone = channel.last_tone_detection()) {
        out->tone_found = 1;
        out->tone_id = tone->id;
        out->tone_amplitude = tone->amplitude;
    }
    return OSTREL_MBE_OK;
}

int decode_report(const Vocoder& channel, ostrel_mbe_decode_report* out) {
    if (out == nullptr) return OSTREL_MBE_ERR_NULL_POINTER;
    const DecodeReport& report = channel.last_decode_report();
    *out = {};
    out->kind = report.kind ? kind_code(*report.kind) : OSTREL_MBE_KIND_NONE;
    out->disposition = static_cast<int>(report.disposition);
    out->code_vectors = report.code_vectors;
    for (std::size_t i = 0; i < report.errors.size(); ++i) out->errors[i] = report.errors[i];
    out->e0 = report.e0;
    out->total = report.total;
    if (report.tone) {
        out->tone_found = 1;
        out->tone_id = report.tone->id;
        out->tone_amplitude = report.tone->amplitude;
    }
    return OSTREL_MBE_OK;
}

// --- handles ---------------------------------------------------------------------------------

// Allocates a handle with make(); NULL and the code in *error (when given) on failure.
template <class Handle, class Make>
Handle* new_handle(int* error, Make&& make) {
    Handle* handle = nullptr;
    const int code = guarded([&] { return make(handle); });
    if (error != nullptr) *error = code;
    return code == OSTREL_MBE_OK ? handle : nullptr;
}

template <class Handle, class Core>
int allocate(Handle*& handle, Core&& core) {
    handle = new (std::nothrow) Handle{std::forward<Core>(core)};
    return handle != nullptr ? OSTREL_MBE_OK : OSTREL_MBE_ERR_OUT_OF_MEMORY;
}

// A handle whose library object is constructed from a rate alone.
template <class Handle>
Handle* new_for_rate(int rate, int* error) {
    return new_handle<Handle>(error, [&](Handle*& handle) {
        const auto r = rate_of(rate);
        return r ? allocate(handle, decltype(Handle::core)(*r)) : OSTREL_MBE_ERR_BAD_ARGUMENT;
    });
}

// The channel behind a handle (const or not): the vocoder itself, or a stream's.
template <class Handle>
auto& channel_of(Handle& h) {
    if constexpr (std::is_same_v<std::remove_const_t<Handle>, ostrel_mbe_vocoder>) {
        return h.core;
    } else {
        return h.core.channel();
    }
}

// The bodies of the entry points every handle (or every channel) has alike; each answers
// NULL_POINTER for a NULL handle.
template <class Handle>
int reset_handle(Handle* handle) {
    if (handle == nullptr) return OSTREL_MBE_ERR_NULL_POINTER;
    handle->core.reset();
    return OSTREL_MBE_OK;
}

template <class Handle>
int discard_pending_of(Handle* handle) {
    if (handle == nullptr) return OSTREL_MBE_ERR_NULL_POINTER;
    handle->core.discard_pending();
    return OSTREL_MBE_OK;
}

template <class Handle>
int set_on(Handle* handle, int setting, double value) {
    return handle == nullptr ? OSTREL_MBE_ERR_NULL_POINTER : set(channel_of(*handle), setting, value);
}

template <class Handle>
int get_from(const Handle* handle, int setting, double* value) {
    return handle == nullptr ? OSTREL_MBE_ERR_NULL_POINTER : get(channel_of(*handle), setting, value);
}

// A whole-buffer call over `frames` frames of in_frame items to out_frame items each, after the
// checks every such call makes first; run(lost flags, output span) does the frames.
template <class Out, class Run>
int whole_buffer(std::size_t in_len, std::size_t in_frame, int wrong_length, const std::uint8_t* lost, Out* out,
                 std::size_t out_capacity, std::size_t out_frame, std::size_t* frames_done, Run&& run) {
    if (frames_done == nullptr || !buffer_ok(out, out_capacity)) return OSTREL_MBE_ERR_NULL_POINTER;
    *frames_done = 0;
    if (in_len % in_frame != 0) return wrong_length;
    const std::size_t frames = in_len / in_frame;
    if (out_capacity / out_frame < frames) return OSTREL_MBE_ERR_BUFFER_TOO_SMALL;
    return guarded([&] {
        const auto done = run(lost == nullptr ? LostFlags{} : LostFlags{lost, frames}, std::span<Out>{out, frames * out_frame});
        *frames_done = done ? frames : done.error().frame;
        return done ? OSTREL_MBE_OK : code_of(done.error().error);
    });
}

}  // namespace
}  // namespace ostrel_mbe

using namespace ostrel_mbe;

extern "C" {

const char* ostrel_mbe_version(void) { return OSTREL_MBE_VERSION_STRING; }

const char* ostrel_mbe_strerror(int code) {
    switch (code) {
        case OSTREL_MBE_OK: return "success";
        case OSTREL_MBE_ERR_NULL_POINTER: return "NULL handle or pointer argument";
        case OSTREL_MBE_ERR_BAD_ARGUMENT: return "unknown rate or setting, or value out of range";
        case OSTREL_MBE_ERR_WRONG_PCM_LENGTH: return "wrong PCM frame length (160 samples expected)";
        case OSTREL_MBE_ERR_WRONG_FRAME_LENGTH: return "wrong wire frame length for the rate";
        case OSTREL_MBE_ERR_BUFFER_TOO_SMALL: return "output buffer too small";
        case OSTREL_MBE_ERR_ANALYSIS: return "the analysis encoder refused the frame";
        case OSTREL_MBE_ERR_QUANTIZE: return "the parameter quantizer refused the frame";
        case OSTREL_MBE_ERR_UNSUPPORTED_TRANSCODE: return "unsupported transcode direction";
        case OSTREL_MBE_ERR_OUT_OF_MEMORY: return "out of memory";
        case OSTREL_MBE_ERR_INTERNAL: return "internal error";
        default: return "unknown error code";
    }
}

int ostrel_mbe_frame_bytes(int rate) {
    const auto r = rate_of(rate);
    return r ? static_cast<int>(wire_bytes(*r)) : OSTREL_MBE_ERR_BAD_ARGUMENT;
}

// --- vocoder ---------------------------------------------------------------------------------

ostrel_mbe_vocoder* ostrel_mbe_vocoder_new(int rate, int* error) { return new_for_rate<ostrel_mbe_vocoder>(rate, error); }

void ostrel_mbe_vocoder_free(ostrel_mbe_vocoder* vocoder) { delete vocoder; }

int ostrel_mbe_vocoder_rate(const ostrel_mbe_vocoder* vocoder) {
    if (vocoder == nullptr) return OSTREL_MBE_ERR_NULL_POINTER;
    return static_cast<int>(vocoder->core.rate());
}

int ostrel_mbe_vocoder_encode(ostrel_mbe_vocoder* vocoder, const int16_t* pcm, size_t pcm_len, uint8_t* frame,
                              size_t frame_capacity) {
    if (vocoder == nullptr || !buffer_ok(pcm, pcm_len) || !buffer_ok(frame, frame_capacity)) {
        return OSTREL_MBE_ERR_NULL_POINTER;
    }
    if (pcm_len != FRAME_SAMPLES) return OSTREL_MBE_ERR_WRONG_PCM_LENGTH;
    if (frame_capacity < wire_bytes(vocoder->core.rate())) return OSTREL_MBE_ERR_BUFFER_TOO_SMALL;
    return guarded([&] {
        const auto result = vocoder->core.encode_pcm({pcm, pcm_len});
        if (!result) return code_of(result.error());
        std::memcpy(frame, result->bytes.data(), result->length);
        return static_cast<int>(result->length);
    });
}

int ostrel_mbe_vocoder_decode(ostrel_mbe_vocoder* vocoder, const uint8_t* frame, size_t frame_len, int16_t* pcm,
                              size_t pcm_capacity) {
    if (vocoder == nullptr || !buffer_ok(frame, frame_len) || !buffer_ok(pcm, pcm_capacity)) {
        return OSTREL_MBE_ERR_NULL_POINTER;
    }
    if (frame_len != wire_bytes(vocoder->core.rate())) return OSTREL_MBE_ERR_WRONG_FRAME_LENGTH;
    if (pcm_capacity < FRAME_SAMPLES) return OSTREL_MBE_ERR_BUFFER_TOO_SMALL;
    return guarded([&] {
        const auto result = vocoder->core.decode_bits({frame, frame_len});
        if (!result) return code_of(result.error());
        std::memcpy(pcm, result->data(), sizeof(*result));
        return static_cast<int>(FRAME_SAMPLES);
    });
}

int ostrel_mbe_vocoder_decode_soft(ostrel_mbe_vocoder* vocoder, const float* soft, size_t soft_len, int16_t* pcm,
                                   size_t pcm_capacity) {
    if (vocoder == nullptr || !buffer_ok(soft, soft_len) || !buffer_ok(pcm, pcm_capacity)) {
        return OSTREL_MBE_ERR_NULL_POINTER;
    }
    if (soft_len != 8 * wire_bytes(vocoder->core.rate())) return OSTREL_MBE_ERR_WRONG_FRAME_LENGTH;
    if (pcm_capacity < FRAME_SAMPLES) return OSTREL_MBE_ERR_BUFFER_TOO_SMALL;
    return guarded([&] {
        const auto result = vocoder->core.decode_soft({soft, soft_len});
        if (!result) return code_of(result.error());
        std::memcpy(pcm, result->data(), sizeof(*result));
        return static_cast<int>(FRAME_SAMPLES);
    });
}

int ostrel_mbe_vocoder_decode_lost(ostrel_mbe_vocoder* vocoder, int16_t* pcm, size_t pcm_capacity) {
    if (vocoder == nullptr || !buffer_ok(pcm, pcm_capacity)) return OSTREL_MBE_ERR_NULL_POINTER;
    if (pcm_capacity < FRAME_SAMPLES) return OSTREL_MBE_ERR_BUFFER_TOO_SMALL;
    return guarded([&] {
        const PcmFrame frame = vocoder->core.decode_lost();
        std::memcpy(pcm, frame.data(), sizeof(frame));
        return static_cast<int>(FRAME_SAMPLES);
    });
}

int ostrel_mbe_vocoder_encode_frames(ostrel_mbe_vocoder* vocoder, const int16_t* pcm, size_t pcm_len, uint8_t* out,
                                     size_t out_capacity, size_t* frames_done) {
    if (vocoder == nullptr || !buffer_ok(pcm, pcm_len)) return OSTREL_MBE_ERR_NULL_POINTER;
    Vocoder& channel = vocoder->core;
    return whole_buffer(pcm_len, FRAME_SAMPLES, OSTREL_MBE_ERR_WRONG_PCM_LENGTH, nullptr, out, out_capacity,
                        wire_bytes(channel.rate()), frames_done, [&](LostFlags, std::span<std::uint8_t> bytes) {
                            return encode_frames(channel, {pcm, pcm_len}, bytes);
                        });
}

int ostrel_mbe_vocoder_decode_frames(ostrel_mbe_vocoder* vocoder, const uint8_t* bits, size_t bits_len,
                                     const uint8_t* lost, int16_t* pcm, size_t pcm_capacity, size_t* frames_done) {
    if (vocoder == nullptr || !buffer_ok(bits, bits_len)) return OSTREL_MBE_ERR_NULL_POINTER;
    Vocoder& channel = vocoder->core;
    return whole_buffer(bits_len, wire_bytes(channel.rate()), OSTREL_MBE_ERR_WRONG_FRAME_LENGTH, lost, pcm,
                        pcm_capacity, FRAME_SAMPLES, frames_done, [&](LostFlags flags, std::span<std::int16_t> samples) {
                            return decode_frames(channel, {bits, bits_len}, samples, flags);
                        });
}

int ostrel_mbe_vocoder_decode_soft_frames(ostrel_mbe_vocoder* vocoder, const float* soft, size_t soft_len,
                                          const uint8_t* lost, int16_t* pcm, size_t pcm_capacity,
                                          size_t* frames_done) {
    if (vocoder == nullptr || !buffer_ok(soft, soft_len)) return OSTREL_MBE_ERR_NULL_POINTER;
    Vocoder& channel = vocoder->core;
    return whole_buffer(soft_len, 8 * wire_bytes(channel.rate()), OSTREL_MBE_ERR_WRONG_FRAME_LENGTH, lost, pcm,
                        pcm_capacity, FRAME_SAMPLES, frames_done, [&](LostFlags flags, std::span<std::int16_t> samples) {
                            return decode_soft_frames(channel, {soft, soft_len}, samples, flags);
                        });
}

int ostrel_mbe_vocoder_reset(ostrel_mbe_vocoder* vocoder) { return reset_handle(vocoder); }

int ostrel_mbe_vocoder_set(ostrel_mbe_vocoder* vocoder, int setting, double value) {
    return set_on(vocoder, setting, value);
}

int ostrel_mbe_vocoder_get(const ostrel_mbe_vocoder* vocoder, int setting, double* value) {
    return get_from(vocoder, setting, value);
}

int ostrel_mbe_vocoder_encode_report(const ostrel_mbe_vocoder* vocoder, ostrel_mbe_encode_report* report) {
    return vocoder == nullptr ? OSTREL_MBE_ERR_NULL_POINTER : encode_report(channel_of(*vocoder), report);
}

int ostrel_mbe_vocoder_decode_report(const ostrel_mbe_vocoder* vocoder, ostrel_mbe_decode_report* report) {
    return vocoder == nullptr ? OSTREL_MBE_ERR_NULL_POINTER : decode_report(channel_of(*vocoder), report);
}

// --- streaming encoder -----------------------------------------------------------------------

ostrel_mbe_live_encoder* ostrel_mbe_live_encoder_new(int rate, int* error) {
    return new_for_rate<ostrel_mbe_live_encoder>(rate, error);
}

void ostrel_mbe_live_encoder_free(ostrel_mbe_live_encoder* encoder) { delete encoder; }

int ostrel_mbe_live_encoder_push(ostrel_mbe_live_encoder* encoder, const int16_t* pcm, size_t pcm_len, uint8_t* out,
                                 size_t out_capacity, size_t* out_len) {
    if (encoder == nullptr || out_len == nullptr || !buffer_ok(pcm, pcm_len) || !buffer_ok(out, out_capacity)) {
        return OSTREL_MBE_ERR_NULL_POINTER;
    }
    LiveEncoder& stream = encoder->core;
    const std::size_t frame_bytes = wire_bytes(stream.rate());
    const std::size_t needed =
        output_size(completed_frames(stream.pending_samples(), pcm_len, FRAME_SAMPLES), frame_bytes);
    *out_len = needed;
    if (needed > out_capacity) return OSTREL_MBE_ERR_BUFFER_TOO_SMALL;
    *out_len = 0;
    return guarded([&] {
        return copy_frames(stream.push({pcm, pcm_len}), [&](const WireFrame& frame) {
            std::memcpy(out + *out_len, frame.bytes.data(), frame.length);
            *out_len += frame.length;
        });
    });
}

int ostrel_mbe_live_encoder_flush(ostrel_mbe_live_encoder* encoder, uint8_t* out, size_t out_capacity,
                                  size_t* out_len) {
    if (encoder == nullptr || out_len == nullptr || !buffer_ok(out, out_capacity)) return OSTREL_MBE_ERR_NULL_POINTER;
    LiveEncoder& stream = encoder->core;
    *out_len = 0;
    if (stream.pending_samples() == 0) return OSTREL_MBE_OK;
    const std::size_t frame_bytes = wire_bytes(stream.rate());
    if (out_capacity < frame_bytes) {
        *out_len = frame_bytes;
        return OSTREL_MBE_ERR_BUFFER_TOO_SMALL;
    }
    return guarded([&] {
        const std::optional<LiveEncoder::Result> frame = stream.flush();
        if (!frame) return OSTREL_MBE_OK;
        if (!*frame) return code_of(frame->error());
        std::memcpy(out, (*frame)->bytes.data(), (*frame)->length);
        *out_len = (*frame)->length;
        return OSTREL_MBE_OK;
    });
}

int ostrel_mbe_live_encoder_pending(const ostrel_mbe_live_encoder* encoder) {
    return encoder == nullptr ? OSTREL_MBE_ERR_NULL_POINTER : static_cast<int>(encoder->core.pending_samples());
}

int ostrel_mbe_live_encoder_discard_pending(ostrel_mbe_live_encoder* encoder) { return discard_pending_of(encoder); }

int ostrel_mbe_live_encoder_reset(ostrel_mbe_live_encoder* encoder) { return reset_handle(encoder); }

int ostrel_mbe_live_encoder_set(ostrel_mbe_live_encoder* encoder, int setting, double value) {
    return set_on(encoder, setting, value);
}

int ostrel_mbe_live_encoder_get(const ostrel_mbe_live_encoder* encoder, int setting, double* value) {
    return get_from(encoder, setting, value);
}

int ostrel_mbe_live_encoder_report(const ostrel_mbe_live_encoder* encoder, ostrel_mbe_encode_report* report) {
    return encoder == nullptr ? OSTREL_MBE_ERR_NULL_POINTER : encode_report(channel_of(*encoder), report);
}

// --- streaming decoder -----------------------------------------------------------------------

ostrel_mbe_live_decoder* ostrel_mbe_live_decoder_new(int rate, int* error) {
    return new_for_rate<ostrel_mbe_live_decoder>(rate, error);
}

void ostrel_mbe_live_decoder_free(ostrel_mbe_live_decoder* decoder) { delete decoder; }

int ostrel_mbe_live_decoder_push(ostrel_mbe_live_decoder* decoder, const uint8_t* bytes, size_t bytes_len,
                                 int16_t* pcm, size_t pcm_capacity, size_t* pcm_len) {
    if (decoder == nullptr || pcm_len == nullptr || !buffer_ok(bytes, bytes_len) || !buffer_ok(pcm, pcm_capacity)) {
        return OSTREL_MBE_ERR_NULL_POINTER;
    }
    LiveDecoder& stream = decoder->core;
    const std::size_t needed =
        output_size(completed_frames(stream.pending_bytes(), bytes_len, wire_bytes(stream.rate())), FRAME_SAMPLES);
    *pcm_len = needed;
    if (needed > pcm_capacity) return OSTREL_MBE_ERR_BUFFER_TOO_SMALL;
    *pcm_len = 0;
    return guarded([&] {
        return copy_frames(stream.push({bytes, bytes_len}), [&](const PcmFrame& frame) {
            std::memcpy(pcm + *pcm_len, frame.data(), sizeof(frame));
            *pcm_len += FRAME_SAMPLES;
        });
    });
}

int ostrel_mbe_live_decoder_push_soft(ostrel_mbe_live_decoder* decoder, const float* values, size_t values_len,
                                      int16_t* pcm, size_t pcm_capacity, size_t* pcm_len) {
    if (decoder == nullptr || pcm_len == nullptr || !buffer_ok(values, values_len) || !buffer_ok(pcm, pcm_capacity)) {
        return OSTREL_MBE_ERR_NULL_POINTER;
    }
    LiveDecoder& stream = decoder->core;
    const std::size_t needed =
        output_size(completed_frames(stream.pending_soft(), values_len, 8 * wire_bytes(stream.rate())), FRAME_SAMPLES);
    *pcm_len = needed;
    if (needed > pcm_capacity) return OSTREL_MBE_ERR_BUFFER_TOO_SMALL;
    *pcm_len = 0;
    return guarded([&] {
        const auto frames = stream.push_soft({values, values_len});
        if (!frames) return code_of(frames.error());
        for (const PcmFrame& frame : *frames) {
            std::memcpy(pcm + *pcm_len, frame.data(), sizeof(frame));
            *pcm_len += FRAME_SAMPLES;
        }
        return OSTREL_MBE_OK;
    });
}

int ostrel_mbe_live_decoder_push_lost(ostrel_mbe_live_decoder* decoder, size_t count, int16_t* pcm,
                                      size_t pcm_capacity, size_t* pcm_len) {
    if (decoder == nullptr || pcm_len == nullptr || !buffer_ok(pcm, pcm_capacity)) return OSTREL_MBE_ERR_NULL_POINTER;
    const std::size_t needed = output_size(count, FRAME_SAMPLES);
    *pcm_len = needed;
    if (needed > pcm_capacity) return OSTREL_MBE_ERR_BUFFER_TOO_SMALL;
    *pcm_len = 0;
    return guarded([&] {
        for (const PcmFrame& frame : decoder->core.push_lost(count)) {
            std::memcpy(pcm + *pcm_len, frame.data(), sizeof(frame));
            *pcm_len += FRAME_SAMPLES;
        }
        return OSTREL_MBE_OK;
    });
}

int ostrel_mbe_live_decoder_pending(const ostrel_mbe_live_decoder* decoder) {
    return decoder == nullptr ? OSTREL_MBE_ERR_NULL_POINTER : static_cast<int>(decoder->core.pending_bytes());
}

int ostrel_mbe_live_decoder_discard_pending(ostrel_mbe_live_decoder* decoder) { return discard_pending_of(decoder); }

int ostrel_mbe_live_decoder_reset(ostrel_mbe_live_decoder* decoder) { return reset_handle(decoder); }

int ostrel_mbe_live_decoder_set(ostrel_mbe_live_decoder* decoder, int setting, double value) {
    return set_on(decoder, setting, value);
}

int ostrel_mbe_live_decoder_get(const ostrel_mbe_live_decoder* decoder, int setting, double* value) {
    return get_from(decoder, setting, value);
}

int ostrel_mbe_live_decoder_report(const ostrel_mbe_live_decoder* decoder, ostrel_mbe_decode_report* report) {
    return decoder == nullptr ? OSTREL_MBE_ERR_NULL_POINTER : decode_report(channel_of(*decoder), report);
}

// --- transcoder ------------------------------------------------------------------------------

ostrel_mbe_transcoder* ostrel_mbe_transcoder_new(int from_rate, int to_rate, int* error) {
    return new_handle<ostrel_mbe_transcoder>(error, [&](ostrel_mbe_transcoder*& handle) {
        const auto from = rate_of(from_rate);
        const auto to = rate_of(to_rate);
        if (!from || !to) return OSTREL_MBE_ERR_BAD_ARGUMENT;
        auto transcoder = Transcoder::create(*from, *to);
        if (!transcoder) return code_of(transcoder.error());
        return allocate(handle, std::move(*transcoder));
    });
}

void ostrel_mbe_transcoder_free(ostrel_mbe_transcoder* transcoder) { delete transcoder; }

int ostrel_mbe_transcoder_transcode(ostrel_mbe_transcoder* transcoder, const uint8_t* in, size_t in_len,
                                    uint8_t* out, size_t out_capacity) {
    if (transcoder == nullptr || !buffer_ok(in, in_len) || !buffer_ok(out, out_capacity)) {
        return OSTREL_MBE_ERR_NULL_POINTER;
    }
    Transcoder& t = transcoder->core;
    if (in_len != wire_bytes(t.from())) return OSTREL_MBE_ERR_WRONG_FRAME_LENGTH;
    if (out_capacity < wire_bytes(t.to())) return OSTREL_MBE_ERR_BUFFER_TOO_SMALL;
    return guarded([&] {
        const auto result = t.transcode({in, in_len});
        if (!result) return code_of(result.error());
        std::memcpy(out, result->bytes.data(), result->length);
        return static_cast<int>(result->length);
    });
}

int ostrel_mbe_transcoder_transcode_soft(ostrel_mbe_transcoder* transcoder, const float* soft, size_t soft_len,
                                         uint8_t* out, size_t out_capacity) {
    if (transcoder == nullptr || !buffer_ok(soft, soft_len) || !buffer_ok(out, out_capacity)) {
        return OSTREL_MBE_ERR_NULL_POINTER;
    }
    Transcoder& t = transcoder->core;
    if (soft_len != 8 * wire_bytes(t.from())) return OSTREL_MBE_ERR_WRONG_FRAME_LENGTH;
    if (out_capacity < wire_bytes(t.to())) return OSTREL_MBE_ERR_BUFFER_TOO_SMALL;
    return guarded([&] {
        const auto result = t.transcode_soft({soft, soft_len});
        if (!result) return code_of(result.error());
        std::memcpy(out, result->bytes.data(), result->length);
        return static_cast<int>(result->length);
    });
}

int ostrel_mbe_transcoder_transcode_lost(ostrel_mbe_transcoder* transcoder, uint8_t* out, size_t out_capacity) {
    if (transcoder == nullptr || !buffer_ok(out, out_capacity)) return OSTREL_MBE_ERR_NULL_POINTER;
    if (out_capacity < wire_bytes(transcoder->core.to())) return OSTREL_MBE_ERR_BUFFER_TOO_SMALL;
    const WireFrame frame = transcoder->core.transcode_lost();
    std::memcpy(out, frame.bytes.data(), frame.length);
    return static_cast<int>(frame.length);
}

int ostrel_mbe_transcoder_reset(ostrel_mbe_transcoder* transcoder) { return reset_handle(transcoder); }

int ostrel_mbe_transcoder_transcode_frames(ostrel_mbe_transcoder* transcoder, const uint8_t* in, size_t in_len,
                                           const uint8_t* lost, uint8_t* out, size_t out_capacity,
                                           size_t* frames_done) {
    if (transcoder == nullptr || !buffer_ok(in, in_len)) return OSTREL_MBE_ERR_NULL_POINTER;
    Transcoder& t = transcoder->core;
    return whole_buffer(in_len, wire_bytes(t.from()), OSTREL_MBE_ERR_WRONG_FRAME_LENGTH, lost, out, out_capacity,
                        wire_bytes(t.to()), frames_done, [&](LostFlags flags, std::span<std::uint8_t> bytes) {
                            return transcode_frames(t, {in, in_len}, bytes, flags);
                        });
}

int ostrel_mbe_transcoder_set_envelope_mix(ostrel_mbe_transcoder* transcoder, int mix) {
    if (transcoder == nullptr) return OSTREL_MBE_ERR_NULL_POINTER;
    if (mix != OSTREL_MBE_ENVELOPE_MIX_NONE && mix != OSTREL_MBE_ENVELOPE_MIX_PREVIOUS) return OSTREL_MBE_ERR_BAD_ARGUMENT;
    transcoder->core.set_envelope_mix(static_cast<rate_conversion::predictor::EnvelopeMix>(mix));
    return OSTREL_MBE_OK;
}

int ostrel_mbe_transcoder_envelope_mix(const ostrel_mbe_transcoder* transcoder) {
    if (transcoder == nullptr) return OSTREL_MBE_ERR_NULL_POINTER;
    return static_cast<int>(transcoder->core.envelope_mix());
}

int ostrel_mbe_transcoder_set_quantizer_search(ostrel_mbe_transcoder* transcoder, int on) {
    if (transcoder == nullptr) return OSTREL_MBE_ERR_NULL_POINTER;
    transcoder->core.set_quantizer_search(on != 0);
    return OSTREL_MBE_OK;
}

int ostrel_mbe_transcoder_quantizer_search(const ostrel_mbe_transcoder* transcoder) {
    if (transcoder == nullptr) return OSTREL_MBE_ERR_NULL_POINTER;
    return transcoder->core.quantizer_search() ? 1 : 0;
}

}  // extern "C"
