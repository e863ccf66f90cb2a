// SPDX-License-Identifier: GPL-2.0-or-later
// Python class Vocoder: one library channel per object, bound to the creating thread.
#include "registration.h"

#include <Python.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <utility>

#include <nanobind/stl/optional.h>
#include <nanobind/stl/string.h>

#include "bound_class.h"
#include "channel_settings.h"
#include "enums.h"
#include "soft_methods.h"
#include "ostrel_mbe/vocoder.h"
#include "whole_buffer_calls.h"
#include "output_settings.h"
#include "without_gil.h"

namespace ostrel_mbe::python {

template <>
struct ClassNames<Vocoder> {
    static constexpr const char* python = "Vocoder";
    static constexpr const char* internal = "_ostrel_mbe::PyVocoder";
};

namespace {

constexpr const char* VOCODER_DOC =
    "Vocoder(rate)\n--\n\n"
    "One vocoder channel. Stateful across frames (analysis history,\n"
    "LCG state, decoder cross-frame memory). Use [`Vocoder.reset`] to\n"
    "clear between independent streams.";

using PyVocoder = Bound<Vocoder>;

Vocoder& channel_of(PyObject* self) { return core_of<Vocoder>(self); }
Vocoder& channel_of(PyVocoder& self) { return core_of(self); }

// --- methods -------------------------------------------------------------------------------

PyObject* encode_pcm(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        Vocoder& channel = channel_of(self);
        PyObject* pcm_obj = nullptr;
        unpack_arguments(args, kwargs, "encode_pcm", {"pcm"}, 1, &pcm_obj);
        const PcmArgument pcm(pcm_obj, "pcm");
        // The array stays writable by other threads while the lock is released: work on a copy.
        std::array<std::int16_t, FRAME_SAMPLES> copy{};
        std::span<const std::int16_t> samples = pcm.samples();
        if (samples.size() == copy.size()) {
            std::copy(samples.begin(), samples.end(), copy.begin());
            samples = copy;
        }
        return new_wire_bytes(unwrap(without_gil([&] { return channel.encode_pcm(samples); })));
    });
}

PyObject* decode_bits(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        Vocoder& channel = channel_of(self);
        PyObject* bits_obj = nullptr;
        unpack_arguments(args, kwargs, "decode_bits", {"bits"}, 1, &bits_obj);
        const std::span<const std::uint8_t> bits = bytes_argument(bits_obj, "bits");  // immutable
        const PcmFrame pcm =
            unwrap(without_gil([&] { return channel.decode_bits(bits); }, !channel.decode_reads_environment()));
        return new_pcm_array(pcm).release().ptr();
    });
}

PyObject* encode_frames(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* { return vocoder_encode_frames_call(channel_of(self), args, kwargs); });
}

PyObject* decode_frames(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* { return vocoder_decode_frames_call(channel_of(self), args, kwargs); });
}

PyObject* decode_soft_frames(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* { return vocoder_decode_soft_frames_call(channel_of(self), args, kwargs); });
}

PyObject* decode_soft(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* { return vocoder_decode_soft(channel_of(self), args, kwargs); });
}

PyObject* decode_lost(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* { return vocoder_decode_lost(channel_of(self)); });
}

PyObject* set_lost_frame_repeats(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* { return vocoder_set_lost_frame_repeats(channel_of(self), args, kwargs); });
}

PyObject* last_output_kind(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        const std::optional<OutputKind> kind = channel_of(self).last_output_kind();
        if (!kind) Py_RETURN_NONE;
        const std::string_view text = output_kind_text(*kind);
        return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    });
}

PyObject* last_tone_detection(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        const std::optional<ToneReport> tone = channel_of(self).last_tone_detection();
        if (!tone) Py_RETURN_NONE;
        return nb::make_tuple(int{tone->id}, int{tone->amplitude}).release().ptr();
    });
}

const char* disposition_text(codecs::mbe_baseline::FrameDisposition disposition) {
    switch (disposition) {
        case codecs::mbe_baseline::FrameDisposition::Normal: return "normal";
        case codecs::mbe_baseline::FrameDisposition::Repeat: return "repeat";
        case codecs::mbe_baseline::FrameDisposition::Mute: return "mute";
        case codecs::mbe_baseline::FrameDisposition::None: break;
    }
    return nullptr;
}

PyObject* last_decode_report(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        const DecodeReport& report = channel_of(self).last_decode_report();
        if (!report.kind) Py_RETURN_NONE;
        nb::dict out;
        out["kind"] = nb::str(frame_kind_text(*report.kind).data());
        const char* disposition = disposition_text(report.disposition);
        out["disposition"] = disposition ? nb::object(nb::str(disposition)) : nb::none();
        nb::list errors;
        for (std::size_t i = 0; i < report.code_vectors; ++i) errors.append(int{report.errors[i]});
        out["errors"] = nb::tuple(errors);
        out["e0"] = int{report.e0};
        out["total"] = int{report.total};
        out["tone"] = report.tone ? nb::object(nb::make_tuple(int{report.tone->id}, int{report.tone->amplitude}))
                                  : nb::none();
        return out.release().ptr();
    });
}

// --- method table ------------------------------------------------------------------------------

PyMethodDef* method_table() {
    static MethodTable table = [] {
        MethodTable t;
        t.add("encode_pcm", &encode_pcm,
              "encode_pcm($self, pcm)\n--\n\n"
              "Encode one PCM frame to its on-wire bytes. `pcm` must be a\n"
              "1-D `np.int16` array of length [`frame_samples`].")
            .add("decode_bits", &decode_bits,
                 "decode_bits($self, bits)\n--\n\n"
                 "Decode one on-wire frame back to PCM. `bits` must be exactly\n"
                 "[`fec_frame_bytes`] bytes long.")
            .add("encode_frames", &encode_frames, ENCODE_FRAMES_DOC)
            .add("decode_frames", &decode_frames, DECODE_FRAMES_DOC)
            .add("decode_soft_frames", &decode_soft_frames, DECODE_SOFT_FRAMES_DOC)
            .add("decode_soft", &decode_soft, DECODE_SOFT_DOC)
            .add("decode_lost", &decode_lost, DECODE_LOST_DOC)
            .add("reset", &reset_method<Vocoder>,
                 "reset($self)\n--\n\n"
                 "Clear cross-frame state. Call between independent streams /\n"
                 "callers sharing one vocoder instance.")
            .add("last_output_kind", &last_output_kind,
                 "last_output_kind($self)\n--\n\n"
                 "`\"voice\"` / `\"silence\"` / `\"tone\"` for the last encoded frame,\n"
                 "or `None` if no encode has run since the last [`reset`].")
            .add("last_tone_detection", &last_tone_detection,
                 "last_tone_detection($self)\n--\n\n"
                 "`(id, amplitude)` for the last frame's Annex T tone detection,\n"
                 "or `None` if tone detection is disabled or no tone was found.")
            .add("last_decode_report", &last_decode_report,
                 "last_decode_report($self)\n--\n\n"
                 "What the last decoded frame was, as a new dict, or `None` if no\n"
                 "decode has run since the last [`reset`]. Keys: `kind` (`\"voice\"`,\n"
                 "`\"silence\"`, `\"tone\"`, `\"erasure\"`, `\"invalid\"` or `\"lost\"`;\n"
                 "erasure and invalid frames are played as silence), `disposition` (`\"normal\"`,\n"
                 "`\"repeat\"` or `\"mute\"`: concealment's verdict on the last\n"
                 "synthesized frame, `None` before the first), `errors` (a tuple of\n"
                 "the bit errors corrected in each code vector: 8 at\n"
                 "`IMBE_7200X4400`, 4 at `AMBEPLUS2_3600X2450`, none without FEC;\n"
                 "255 in the first at the half rate means uncorrectable), `e0` and\n"
                 "`total` (the counts concealment used) and `tone` (`(id, amplitude)`\n"
                 "for tone frames and the silence tone, else `None`).");
        add_setting_methods<Vocoder>(t, BOTH);
        t.add("set_lost_frame_repeats", &set_lost_frame_repeats, "set_lost_frame_repeats($self, n)\n--\n\n");
        output_settings::add_methods<Vocoder>(t);
        return t;
    }();
    return table.data();
}

// Vocoder(rate): a slot initialiser rather than a bound __init__, so that the class keeps the
// plain "(rate)" text signature of its docstring.
int init_vocoder(PyObject* self, PyObject* args, PyObject* kwargs) {
    return init_bound<Vocoder>(self, args, kwargs, {"rate"}, [](PyObject** argv) {
        return std::make_unique<Vocoder>(static_cast<Rate>(member_value<RateClass>(argv[0], "rate")));
    });
}

}  // namespace

void register_vocoder(nb::module_& m) {
    auto cls = bound_class<Vocoder>(m, VOCODER_DOC, &init_vocoder, method_table());
    add_rate_and_repr(cls, "The rate this vocoder was constructed for.");
    cls.def_prop_ro(
        "frame_samples",
        [](PyVocoder& self) {
            (void)channel_of(self);
            return FRAME_SAMPLES;
        },
        "PCM samples in one frame (`160` for all current rates).");
    cls.def_prop_ro(
        "fec_frame_bytes", [](PyVocoder& self) { return wire_bytes(channel_of(self).rate()); },
        "On-wire byte count for one frame at this rate.");

    add_setting_properties(cls, BOTH);
    cls.def_prop_ro(
        "lost_frame_repeats", [](PyVocoder& self) { return channel_of(self).lost_frame_repeats(); },
        "Lost frames repeated before [`decode_lost`] mutes (default 3, kept by reset).");
    output_settings::add_properties(cls);
}

}  // namespace ostrel_mbe::python
