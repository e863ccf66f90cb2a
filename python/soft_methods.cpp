// SPDX-License-Identifier: GPL-2.0-or-later
#include "soft_methods.h"

#include <cstring>
#include <string>

#include "args.h"
#include "errors.h"
#include "ostrel_mbe/live.h"
#include "ostrel_mbe/transcoder.h"
#include "ostrel_mbe/vocoder.h"
#include "without_gil.h"

namespace ostrel_mbe::python {

namespace {

[[noreturn]] void raise_not_soft(const char* argument, const std::string& detail) {
    raise(PyExc_ValueError, std::string(argument) + ": expected a 1-D numpy array of float32 or int8, " + detail);
}

nb::list pcm_list(const std::vector<PcmFrame>& frames) {
    nb::list out;
    for (const PcmFrame& frame : frames) out.append(new_pcm_array(frame));
    return out;
}

}  // namespace

std::vector<float> soft_argument(PyObject* obj, const char* argument) {
    Py_buffer view{};
    if (!PyObject_CheckBuffer(obj) || PyObject_GetBuffer(obj, &view, PyBUF_RECORDS_RO) != 0) {
        PyErr_Clear();
        raise_not_soft(argument, "got '" + type_name(obj) + "'");
    }
    struct Release {
        Py_buffer* view;
        ~Release() { PyBuffer_Release(view); }
    } release{&view};
    const std::string format = view.format ? view.format : "B";
    const bool is_float = (format == "f" || format == "<f" || format == "=f") && view.itemsize == 4;
    const bool is_int8 = format == "b" && view.itemsize == 1;
    if (!is_float && !is_int8) raise_not_soft(argument, "got dtype format '" + format + "'");
    if (view.ndim != 1) raise_not_soft(argument, "got " + std::to_string(view.ndim) + " dimensions");
    const auto length = static_cast<std::size_t>(view.shape[0]);
    std::vector<float> values(length);
    const auto* base = static_cast<const char*>(view.buf);
    const Py_ssize_t stride = view.strides ? view.strides[0] : view.itemsize;
    for (std::size_t i = 0; i < length; ++i) {
        const char* item = base + static_cast<Py_ssize_t>(i) * stride;
        if (is_float) {
            std::memcpy(&values[i], item, sizeof(float));
        } else {
            values[i] = static_cast<float>(*reinterpret_cast<const std::int8_t*>(item));
        }
    }
    return values;
}

PyObject* vocoder_decode_soft(Vocoder& channel, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* soft_obj = nullptr;
        unpack_arguments(args, kwargs, "decode_soft", {"soft"}, 1, &soft_obj);
        const std::vector<float> soft = soft_argument(soft_obj, "soft");
        const PcmFrame pcm =
            unwrap(without_gil([&] { return channel.decode_soft(soft); }, !channel.decode_reads_environment()));
        return new_pcm_array(pcm).release().ptr();
    });
}

PyObject* vocoder_decode_lost(Vocoder& channel) {
    return guarded([&]() -> PyObject* {
        const PcmFrame pcm = without_gil([&] { return channel.decode_lost(); });
        return new_pcm_array(pcm).release().ptr();
    });
}

PyObject* vocoder_set_lost_frame_repeats(Vocoder& channel, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* n = nullptr;
        unpack_arguments(args, kwargs, "set_lost_frame_repeats", {"n"}, 1, &n);
        const auto value = optional_u32_argument(n, "n");
        if (!value) raise(PyExc_TypeError, "n: expected int, got 'NoneType'");
        channel.set_lost_frame_repeats(*value);
        Py_RETURN_NONE;
    });
}

PyObject* decoder_push_soft(LiveDecoder& decoder, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* values_obj = nullptr;
        unpack_arguments(args, kwargs, "push_soft", {"values"}, 1, &values_obj);
        const std::vector<float> values = soft_argument(values_obj, "values");
        auto frames = unwrap(
            without_gil([&] { return decoder.push_soft(values); }, !decoder.channel().decode_reads_environment()));
        return pcm_list(frames).release().ptr();
    });
}

PyObject* decoder_push_lost(LiveDecoder& decoder, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* count_obj = nullptr;
        unpack_arguments(args, kwargs, "push_lost", {"count"}, 0, &count_obj);
        const std::uint32_t count = count_obj ? optional_u32_argument(count_obj, "count").value_or(1) : 1;
        const auto frames = without_gil([&] { return decoder.push_lost(count); });
        return pcm_list(frames).release().ptr();
    });
}

PyObject* transcoder_transcode_soft(Transcoder& transcoder, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* soft_obj = nullptr;
        unpack_arguments(args, kwargs, "transcode_soft", {"soft"}, 1, &soft_obj);
        const std::vector<float> soft = soft_argument(soft_obj, "soft");
        return new_wire_bytes(unwrap(without_gil([&] { return transcoder.transcode_soft(soft); })));
    });
}

PyObject* transcoder_transcode_lost(Transcoder& transcoder) {
    return guarded([&]() -> PyObject* { return new_wire_bytes(transcoder.transcode_lost()); });
}

}  // namespace ostrel_mbe::python
