// SPDX-License-Identifier: GPL-2.0-or-later
#include "whole_buffer_calls.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "args.h"
#include "errors.h"
#include "soft_methods.h"
#include "ostrel_mbe/whole_buffer.h"
#include "without_gil.h"

namespace ostrel_mbe::python {

namespace {

// The bytes of a bytes-like argument: a `bytes` object read in place (it cannot change), any
// other buffer (bytearray, memoryview, array) copied, since Python code may write to it while
// the lock is released.
class BytesInput {
public:
    BytesInput(PyObject* obj, const char* argument) {
        if (PyBytes_Check(obj)) {
            data_ = bytes_argument(obj, argument);
            return;
        }
        Py_buffer view{};
        if (PyObject_GetBuffer(obj, &view, PyBUF_SIMPLE) != 0) {
            PyErr_Clear();
            raise(PyExc_TypeError,
                  std::string("argument '") + argument + "': expected a bytes-like object, got '" + type_name(obj) + "'");
        }
        const auto* begin = static_cast<const std::uint8_t*>(view.buf);
        copy_.assign(begin, begin + view.len);
        PyBuffer_Release(&view);
        data_ = copy_;
    }
    std::span<const std::uint8_t> data() const { return data_; }

private:
    std::vector<std::uint8_t> copy_;
    std::span<const std::uint8_t> data_;
};

// A new `bytes` object of `length` bytes, not yet written (nothing else holds it).
std::pair<nb::object, std::span<std::uint8_t>> empty_bytes(std::size_t length) {
    nb::object out = nb::steal(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(length)));
    if (!out.is_valid()) throw nb::python_error();
    return {out, {reinterpret_cast<std::uint8_t*>(PyBytes_AS_STRING(out.ptr())), length}};
}

// ValueError for a failed frame: "frame 12: <error>", or for a partial tail of wire bytes
// "5 bytes left over after 3 whole 18-byte frames" (of soft values likewise).
[[noreturn]] void raise_frame_failure(const FrameFailure& failure) {
    if (const auto* tail = std::get_if<VocoderError::WrongBitsLength>(&failure.error.value))
        raise(PyExc_ValueError, std::to_string(tail->got) + " bytes left over after " + std::to_string(failure.frame) +
                                    " whole " + std::to_string(tail->expected) + "-byte frames");
    if (const auto* tail = std::get_if<VocoderError::WrongSoftLength>(&failure.error.value))
        raise(PyExc_ValueError, std::to_string(tail->got) + " values left over after " + std::to_string(failure.frame) +
                                    " whole frames of " + std::to_string(tail->expected) + " values");
    raise(PyExc_ValueError, "frame " + std::to_string(failure.frame) + ": " + failure.error.display());
}

// Samples from an input sample to its decoded self: the encoder's two frames of look-ahead and
// half a frame of synthesis; the frames of silence that carry them out, as the command line
// encodes after the last frame.
constexpr std::size_t CODEC_DELAY_SAMPLES = 2 * FRAME_SAMPLES + FRAME_SAMPLES / 2;
constexpr std::size_t FLUSH_FRAMES = padded_frames(CODEC_DELAY_SAMPLES);

void check(const std::expected<void, FrameFailure>& done) {
    if (!done) raise_frame_failure(done.error());
}

// The optional `lost` flags of a decode or transcode call: a bytes-like object (a NumPy bool
// array is one) with one byte per frame of the input, nonzero for a frame that never arrived.
class LostArgument {
public:
    LostArgument(PyObject* obj, std::size_t frames) {
        if (obj == nullptr || obj == Py_None) return;
        flags_.emplace(obj, "lost");
        if (flags_->data().size() != frames)
            raise(PyExc_ValueError, "lost: expected " + std::to_string(frames) + " flags, one per frame, got " +
                                        std::to_string(flags_->data().size()));
    }
    LostFlags flags() const { return flags_ ? flags_->data() : LostFlags{}; }

private:
    std::optional<BytesInput> flags_;
};

PyObject* one_argument(PyObject* args, PyObject* kwargs, const char* function, const char* name) {
    PyObject* value = nullptr;
    unpack_arguments(args, kwargs, function, {name}, 1, &value);
    return value;
}

}  // namespace

PyObject* vocoder_encode_frames_call(Vocoder& channel, PyObject* args, PyObject* kwargs) {
    PyObject* argv[2] = {nullptr, nullptr};
    unpack_arguments(args, kwargs, "encode_frames", {"pcm", "flush"}, 1, argv);
    const bool flush = argv[1] != nullptr && bool_argument(argv[1], "flush");
    std::vector<std::int16_t> samples;
    {
        const PcmArgument pcm(argv[0], "pcm");
        // The one copy of the input, padded to whole frames and followed by the silence of the flush.
        const std::size_t frames = padded_frames(pcm.samples().size()) + (flush ? FLUSH_FRAMES : 0);
        samples.resize(frames * FRAME_SAMPLES);
        std::copy(pcm.samples().begin(), pcm.samples().end(), samples.begin());
    }
    auto [out, bytes] = empty_bytes(samples.size() / FRAME_SAMPLES * wire_bytes(channel.rate()));
    check(without_gil([&] { return encode_frames(channel, samples, bytes); }));
    return out.release().ptr();
}

PyObject* vocoder_decode_frames_call(Vocoder& channel, PyObject* args, PyObject* kwargs) {
    PyObject* argv[2] = {nullptr, nullptr};
    unpack_arguments(args, kwargs, "decode_frames", {"bits", "lost"}, 1, argv);
    const BytesInput bits(argv[0], "bits");
    const std::size_t frames = bits.data().size() / wire_bytes(channel.rate());
    const LostArgument lost(argv[1], frames);
    auto [out, samples] = empty_pcm_array(frames * FRAME_SAMPLES);
    check(without_gil([&] { return decode_frames(channel, bits.data(), samples, lost.flags()); }));
    return out.release().ptr();
}

PyObject* vocoder_decode_soft_frames_call(Vocoder& channel, PyObject* args, PyObject* kwargs) {
    // The one copy of the input (the array stays writable while the lock is released).
    PyObject* argv[2] = {nullptr, nullptr};
    unpack_arguments(args, kwargs, "decode_soft_frames", {"soft", "lost"}, 1, argv);
    const std::vector<float> soft = soft_argument(argv[0], "soft");
    const std::size_t frames = soft.size() / (8 * wire_bytes(channel.rate()));
    const LostArgument lost(argv[1], frames);
    auto [out, samples] = empty_pcm_array(frames * FRAME_SAMPLES);
    check(without_gil([&] { return decode_soft_frames(channel, soft, samples, lost.flags()); }));
    return out.release().ptr();
}

PyObject* transcoder_transcode_frames_call(Transcoder& transcoder, PyObject* args, PyObject* kwargs) {
    PyObject* argv[2] = {nullptr, nullptr};
    unpack_arguments(args, kwargs, "transcode_frames", {"bits", "lost"}, 1, argv);
    const BytesInput bits(argv[0], "bits");
    const std::size_t frames = bits.data().size() / wire_bytes(transcoder.from());
    const LostArgument lost(argv[1], frames);
    auto [out, bytes] = empty_bytes(frames * wire_bytes(transcoder.to()));
    check(without_gil([&] { return transcode_frames(transcoder, bits.data(), bytes, lost.flags()); }));
    return out.release().ptr();
}

PyObject* encoder_push_concat_call(LiveEncoder& encoder, PyObject* args, PyObject* kwargs) {
    const PcmArgument pcm(one_argument(args, kwargs, "push_concat", "pcm"), "pcm");
    // The array stays writable by other threads while the lock is released: work on a copy.
    const std::vector<std::int16_t> samples(pcm.samples().begin(), pcm.samples().end());
    auto [out, bytes] = empty_bytes(encoder.frames_completed(samples.size()) * wire_bytes(encoder.rate()));
    check(without_gil([&] { return encoder.push_into(samples, bytes); }));
    return out.release().ptr();
}

PyObject* decoder_push_concat_call(LiveDecoder& decoder, PyObject* args, PyObject* kwargs) {
    const BytesInput bits(one_argument(args, kwargs, "push_concat", "bits"), "bits");
    auto [out, samples] = empty_pcm_array(decoder.frames_completed(bits.data().size()) * FRAME_SAMPLES);
    check(without_gil([&] { return decoder.push_into(bits.data(), samples); }));
    return out.release().ptr();
}

}  // namespace ostrel_mbe::python
