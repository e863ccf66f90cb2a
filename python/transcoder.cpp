// SPDX-License-Identifier: GPL-2.0-or-later
// Python class Transcoder: one library transcoder per object, bound to the creating thread.
#include <Python.h>

#include <memory>
#include <string>

#include <nanobind/stl/string.h>

#include "bound_class.h"
#include "enums.h"
#include "soft_methods.h"
#include "registration.h"
#include "whole_buffer_calls.h"
#include "without_gil.h"
#include "ostrel_mbe/transcoder.h"

namespace ostrel_mbe::python {

template <>
struct ClassNames<Transcoder> {
    static constexpr const char* python = "Transcoder";
    static constexpr const char* internal = "_ostrel_mbe::PyTranscoder";
};

namespace {

constexpr const char* TRANSCODER_DOC =
    "Transcoder(from, to)\n--\n\n"
    "Wire-format bridge — decodes one rate and re-encodes to another.\n"
    "Used for Phase 1 IMBE ⇄ Phase 2 AMBE+2 conversion and for same-\n"
    "codec FEC ↔ no-FEC pairs.";

PyObject* transcode(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        Transcoder& transcoder = core_of<Transcoder>(self);
        PyObject* bits_obj = nullptr;
        unpack_arguments(args, kwargs, "transcode", {"bits"}, 1, &bits_obj);
        const std::span<const std::uint8_t> bits = bytes_argument(bits_obj, "bits");  // immutable
        return new_wire_bytes(unwrap(without_gil([&] { return transcoder.transcode(bits); })));
    });
}

PyObject* transcode_frames(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* { return transcoder_transcode_frames_call(core_of<Transcoder>(self), args, kwargs); });
}

PyObject* transcode_soft(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* { return transcoder_transcode_soft(core_of<Transcoder>(self), args, kwargs); });
}

PyObject* transcode_lost(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* { return transcoder_transcode_lost(core_of<Transcoder>(self)); });
}

PyObject* set_quantizer_search(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* on = nullptr;
        unpack_arguments(args, kwargs, "set_quantizer_search", {"on"}, 1, &on);
        core_of<Transcoder>(self).set_quantizer_search(bool_argument(on, "on"));
        Py_RETURN_NONE;
    });
}

PyMethodDef* methods() {
    static MethodTable table = MethodTable()
                                   .add("transcode", &transcode,
                                        "transcode($self, bits)\n--\n\n"
                                        "Transcode one input frame to the destination rate.")
                                   .add("transcode_frames", &transcode_frames, TRANSCODE_FRAMES_DOC)
                                   .add("transcode_soft", &transcode_soft, TRANSCODE_SOFT_DOC)
                                   .add("transcode_lost", &transcode_lost, TRANSCODE_LOST_DOC)
                                   .add("reset", &reset_method<Transcoder>, "reset($self)\n--\n\n")
                                   .add("set_quantizer_search", &set_quantizer_search,
                                        "set_quantizer_search($self, on)\n--\n\n")
        ;
    return table.data();
}

// Transcoder(from, to); an unsupported pair raises ValueError here, at construction.
int init_transcoder(PyObject* self, PyObject* args, PyObject* kwargs) {
    return init_bound<Transcoder>(self, args, kwargs, {"from", "to"}, [](PyObject** argv) {
        const auto from = static_cast<Rate>(member_value<RateClass>(argv[0], "from"));
        const auto to = static_cast<Rate>(member_value<RateClass>(argv[1], "to"));
        return std::make_unique<Transcoder>(unwrap(Transcoder::create(from, to)));
    });
}

}  // namespace

void register_transcoder(nb::module_& m) {
    auto cls = bound_class<Transcoder>(m, TRANSCODER_DOC, &init_transcoder, methods());
    cls.def("__repr__", [](Bound<Transcoder>& self) {
        const Transcoder& t = core_of(self);
        return "Transcoder(from=Rate." + std::string(debug_name(t.from())) + ", to=Rate." +
               std::string(debug_name(t.to())) + ")";
    });
    cls.def_prop_ro("quantizer_search", [](Bound<Transcoder>& self) { return core_of(self).quantizer_search(); });
}

}  // namespace ostrel_mbe::python
