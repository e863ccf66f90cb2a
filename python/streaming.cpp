// SPDX-License-Identifier: GPL-2.0-or-later
// Python classes LiveEncoder and LiveDecoder: one library stream (and so one channel) per
// object, bound to the creating thread.
#include <Python.h>

#include <memory>
#include <string>
#include <vector>

#include <nanobind/stl/string.h>

#include "bound_class.h"
#include "channel_settings.h"
#include "enums.h"
#include "soft_methods.h"
#include "ostrel_mbe/live.h"
#include "output_settings.h"
#include "registration.h"
#include "whole_buffer_calls.h"
#include "without_gil.h"

namespace ostrel_mbe::python {

template <>
struct ClassNames<LiveEncoder> {
    static constexpr const char* python = "LiveEncoder";
    static constexpr const char* internal = "_ostrel_mbe::PyLiveEncoder";
};
template <>
struct ClassNames<LiveDecoder> {
    static constexpr const char* python = "LiveDecoder";
    static constexpr const char* internal = "_ostrel_mbe::PyLiveDecoder";
};

namespace {

constexpr const char* ENCODER_DOC =
    "LiveEncoder(rate)\n--\n\n"
    "Chunk-driven streaming encoder. Buffers caller-supplied PCM into\n"
    "160-sample frames and emits one wire-byte blob per completed\n"
    "frame. Pass any chunk size you have; partial frames are held until\n"
    "the next [`push`].";

constexpr const char* DECODER_DOC =
    "LiveDecoder(rate)\n--\n\n"
    "Chunk-driven streaming decoder. Buffers caller-supplied wire\n"
    "bytes into [`fec_frame_bytes`]-sized frames and emits PCM blocks\n"
    "per decoded frame.";

LiveEncoder& encoder_of(PyObject* self) { return core_of<LiveEncoder>(self); }
LiveDecoder& decoder_of(PyObject* self) { return core_of<LiveDecoder>(self); }

PyObject* encoder_push(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        LiveEncoder& encoder = encoder_of(self);
        PyObject* pcm_obj = nullptr;
        unpack_arguments(args, kwargs, "push", {"pcm"}, 1, &pcm_obj);
        const PcmArgument pcm(pcm_obj, "pcm");
        // The array stays writable by other threads while the lock is released: work on a copy.
        const std::vector<std::int16_t> samples(pcm.samples().begin(), pcm.samples().end());
        const auto results = without_gil([&] { return encoder.push(samples); });
        // The call fails as a whole at its first failed frame; the frames before it are lost.
        nb::list out;
        for (const auto& r : results) out.append(nb::steal(new_wire_bytes(unwrap(LiveEncoder::Result(r)))));
        return out.release().ptr();
    });
}

PyObject* encoder_flush(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        LiveEncoder& encoder = encoder_of(self);
        auto result = without_gil([&] { return encoder.flush(); });
        if (!result) Py_RETURN_NONE;
        return new_wire_bytes(unwrap(std::move(*result)));
    });
}

PyObject* decoder_push(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        LiveDecoder& decoder = decoder_of(self);
        PyObject* bits_obj = nullptr;
        unpack_arguments(args, kwargs, "push", {"bits"}, 1, &bits_obj);
        const std::span<const std::uint8_t> bits = bytes_argument(bits_obj, "bits");  // immutable
        const auto results =
            without_gil([&] { return decoder.push(bits); }, !decoder.channel().decode_reads_environment());
        nb::list out;
        for (const auto& r : results) out.append(new_pcm_array(unwrap(LiveDecoder::Result(r))));
        return out.release().ptr();
    });
}

PyObject* encoder_push_concat(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* { return encoder_push_concat_call(encoder_of(self), args, kwargs); });
}

PyObject* decoder_push_concat(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* { return decoder_push_concat_call(decoder_of(self), args, kwargs); });
}

PyObject* push_soft(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* { return decoder_push_soft(decoder_of(self), args, kwargs); });
}

PyObject* push_lost(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* { return decoder_push_lost(decoder_of(self), args, kwargs); });
}

// discard_pending(), the same for both directions.
template <class Core>
PyObject* discard_pending(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        core_of<Core>(self).discard_pending();
        Py_RETURN_NONE;
    });
}

PyMethodDef* encoder_methods() {
    static MethodTable table = MethodTable()
                                   .add("push", &encoder_push,
                                        "push($self, pcm)\n--\n\n"
                                        "Push PCM. Returns a list of `bytes`, one per completed frame.\n"
                                        "Frames that fail to encode raise `ValueError` at the failing\n"
                                        "frame's slot.")
                                   .add("push_concat", &encoder_push_concat, ENCODER_PUSH_CONCAT_DOC)
                                   .add("flush", &encoder_flush,
                                        "flush($self)\n--\n\n"
                                        "Pad the residue with zeros and emit any pending frame.\n"
                                        "Returns the frame bytes or `None` if the residue was empty.")
                                   .add("reset", &reset_method<LiveEncoder>, "reset($self)\n--\n\n")
                                   .add("discard_pending", &discard_pending<LiveEncoder>, "discard_pending($self)\n--\n\n");
    static const bool with_settings = [] {
        add_setting_methods<LiveEncoder>(table, ENCODING);  // after the methods above, once
        return true;
    }();
    (void)with_settings;
    return table.data();
}

PyMethodDef* decoder_methods() {
    static MethodTable table = MethodTable()
                                   .add("push", &decoder_push,
                                        "push($self, bits)\n--\n\n"
                                        "Push wire bytes. Returns a list of `np.int16` arrays, one per\n"
                                        "completed frame.")
                                   .add("push_concat", &decoder_push_concat, DECODER_PUSH_CONCAT_DOC)
                                   .add("push_soft", &push_soft, PUSH_SOFT_DOC)
                                   .add("push_lost", &push_lost, PUSH_LOST_DOC)
                                   .add("reset", &reset_method<LiveDecoder>, "reset($self)\n--\n\n")
                                   .add("discard_pending", &discard_pending<LiveDecoder>, "discard_pending($self)\n--\n\n");
    static const bool with_settings = [] {
        add_setting_methods<LiveDecoder>(table, DECODING);  // after the methods above, once
        output_settings::add_methods<LiveDecoder>(table);
        return true;
    }();
    (void)with_settings;
    return table.data();
}

template <class Core>
int init_stream(PyObject* self, PyObject* args, PyObject* kwargs) {
    return init_bound<Core>(self, args, kwargs, {"rate"}, [](PyObject** argv) {
        return std::make_unique<Core>(static_cast<Rate>(member_value<RateClass>(argv[0], "rate")));
    });
}

}  // namespace

void register_streaming(nb::module_& m) {
    auto encoder = bound_class<LiveEncoder>(m, ENCODER_DOC, &init_stream<LiveEncoder>, encoder_methods());
    add_rate_and_repr(encoder);
    encoder.def_prop_ro("pending_samples", [](Bound<LiveEncoder>& self) { return core_of(self).pending_samples(); });
    add_setting_properties(encoder, ENCODING);

    auto decoder = bound_class<LiveDecoder>(m, DECODER_DOC, &init_stream<LiveDecoder>, decoder_methods());
    add_rate_and_repr(decoder);
    decoder.def_prop_ro("pending_bytes", [](Bound<LiveDecoder>& self) { return core_of(self).pending_bytes(); });
    decoder.def_prop_ro("pending_soft", [](Bound<LiveDecoder>& self) { return core_of(self).pending_soft(); });
    add_setting_properties(decoder, DECODING);
    output_settings::add_properties(decoder);
}

}  // namespace ostrel_mbe::python
