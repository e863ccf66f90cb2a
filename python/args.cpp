// SPDX-License-Identifier: GPL-2.0-or-later
#include "args.h"

#include <array>
#include <bit>
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include <nanobind/ndarray.h>

#include "errors.h"

namespace ostrel_mbe::python {

namespace {

// str(obj) as UTF-8.
std::string text_of(nb::handle obj) {
    nb::object text = nb::steal(PyObject_Str(obj.ptr()));
    if (!text.is_valid()) throw nb::python_error();
    const char* utf8 = PyUnicode_AsUTF8(text.ptr());
    if (utf8 == nullptr) throw nb::python_error();
    return utf8;
}

std::string prefix(const char* argument) { return std::string("argument '") + argument + "': "; }

// numpy.ndarray, imported on first use and kept for the life of the process.
PyObject* ndarray_type() {
    static PyObject* type = [] {
        nb::object numpy = nb::module_::import_("numpy");
        return nb::object(numpy.attr("ndarray")).release().ptr();
    }();
    return type;
}

// numpy.ma.MaskedArray, likewise; imported only when a subclass of ndarray arrives.
PyObject* masked_array_type() {
    static PyObject* type = [] {
        nb::object ma = nb::module_::import_("numpy.ma");
        return nb::object(ma.attr("MaskedArray")).release().ptr();
    }();
    return type;
}

// Buffer format codes that denote a 16-bit signed integer in native byte order.
bool is_native_int16(const char* format) {
    if (format == nullptr) return false;
    const std::string_view f(format);
    if (f == "h" || f == "@h" || f == "=h") return true;
    if constexpr (std::endian::native == std::endian::little) return f == "<h";
    return f == ">h" || f == "!h";
}

[[noreturn]] void raise_not_pcm(PyObject* obj, const char* argument) {
    std::string got;
    if (PyObject_IsInstance(obj, ndarray_type()) == 1) {
        nb::handle array(obj);
        got = "a " + text_of(array.attr("ndim")) + "-D array of " + text_of(array.attr("dtype"));
    } else {
        PyErr_Clear();
        got = "'" + type_name(obj) + "'";
    }
    raise(PyExc_TypeError, prefix(argument) + "expected a 1-D numpy.int16 array, got " + got);
}

}  // namespace

void unpack_arguments(PyObject* args, PyObject* kwargs, const char* function,
                      std::initializer_list<const char*> names, std::size_t required, PyObject** out) {
    if (names.size() > 2) raise(PyExc_RuntimeError, "unpack_arguments supports at most two arguments");
    // The common call, positional arguments only and a valid count, skips the general parser
    // (which builds its format string on every call); anything else goes through it.
    if (kwargs == nullptr && PyTuple_Check(args)) {
        const auto given = static_cast<std::size_t>(PyTuple_GET_SIZE(args));
        if (given >= required && given <= names.size()) {
            for (std::size_t i = 0; i < names.size(); ++i) out[i] = i < given ? PyTuple_GET_ITEM(args, i) : nullptr;
            return;
        }
    }
    std::string format(required, 'O');
    if (names.size() > required) format += '|' + std::string(names.size() - required, 'O');
    format += ':';
    format += function;
    std::array<char*, 3> keywords{};
    std::size_t i = 0;
    for (const char* name : names) {
        keywords[i] = const_cast<char*>(name);
        out[i++] = nullptr;
    }
    PyObject* unused = nullptr;
    PyObject** second = names.size() > 1 ? &out[1] : &unused;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, format.c_str(), keywords.data(), &out[0], second))
        throw nb::python_error();
}

PcmArgument::PcmArgument(PyObject* obj, const char* argument) {
    const int is_array = PyObject_IsInstance(obj, ndarray_type());
    if (is_array < 0) throw nb::python_error();
    if (is_array == 0) raise_not_pcm(obj, argument);
    // A masked array's buffer holds whatever lies under the mask: encoding it would play values
    // the caller meant to leave out.
    if (Py_TYPE(obj) != reinterpret_cast<PyTypeObject*>(ndarray_type())) {
        const int is_masked = PyObject_IsInstance(obj, masked_array_type());
        if (is_masked < 0) throw nb::python_error();
        if (is_masked == 1)
            raise(PyExc_TypeError, prefix(argument) + "masked arrays are not accepted; fill the masked samples "
                                                      "first (numpy.ma.filled)");
    }
    if (PyObject_GetBuffer(obj, &view_, PyBUF_RECORDS_RO) != 0) {
        PyErr_Clear();
        raise_not_pcm(obj, argument);
    }
    held_ = true;
    if (view_.ndim != 1 || view_.itemsize != 2 || !is_native_int16(view_.format)) {
        PyBuffer_Release(&view_);
        held_ = false;
        raise_not_pcm(obj, argument);
    }
    const auto length = static_cast<std::size_t>(view_.shape[0]);
    if (length > 1 && view_.strides[0] != 2) {
        PyBuffer_Release(&view_);
        held_ = false;
        raise(PyExc_TypeError, "The given array is not contiguous");
    }
    if (reinterpret_cast<std::uintptr_t>(view_.buf) % alignof(std::int16_t) == 0) {
        samples_ = {static_cast<const std::int16_t*>(view_.buf), length};
    } else {
        // A view at an odd byte offset: copy rather than read through a misaligned pointer.
        realigned_.resize(length);
        std::memcpy(realigned_.data(), view_.buf, length * sizeof(std::int16_t));
        samples_ = realigned_;
    }
}

PcmArgument::~PcmArgument() {
    if (held_) PyBuffer_Release(&view_);
}

std::span<const std::uint8_t> bytes_argument(PyObject* obj, const char* argument) {
    if (!PyBytes_Check(obj))
        raise(PyExc_TypeError, prefix(argument) + "expected bytes, got '" + type_name(obj) + "'");
    return {reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(obj)),
            static_cast<std::size_t>(PyBytes_GET_SIZE(obj))};
}

bool bool_argument(PyObject* obj, const char* argument) {
    if (!PyBool_Check(obj))
        raise(PyExc_TypeError, prefix(argument) + "expected bool, got '" + type_name(obj) + "'");
    return obj == Py_True;
}

double float_argument(PyObject* obj, const char* argument) {
    const double value = PyFloat_AsDouble(obj);
    if (value == -1.0 && PyErr_Occurred()) {
        if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw nb::python_error();
        PyErr_Clear();
        raise(PyExc_TypeError, prefix(argument) + "must be real number, not '" + type_name(obj) + "'");
    }
    return value;
}

std::optional<std::uint32_t> optional_u32_argument(PyObject* obj, const char* argument) {
    if (obj == nullptr || obj == Py_None) return std::nullopt;
    PyObject* index = PyNumber_Index(obj);
    if (index == nullptr) {
        if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw nb::python_error();
        PyErr_Clear();
        raise(PyExc_TypeError,
              prefix(argument) + "'" + type_name(obj) + "' object cannot be interpreted as an integer");
    }
    nb::object as_int = nb::steal(index);
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(as_int.ptr(), &overflow);
    if (value == -1 && PyErr_Occurred()) throw nb::python_error();
    if (overflow != 0 || value < 0 || value > static_cast<long long>(UINT32_MAX))
        raise(PyExc_OverflowError, prefix(argument) + "out of range for an unsigned 32-bit integer");
    return static_cast<std::uint32_t>(value);
}

std::pair<nb::object, std::span<std::int16_t>> empty_pcm_array(std::size_t length) {
    // numpy.empty(n, numpy.int16) filled through the buffer protocol: a few hundred nanoseconds
    // per frame, where handing numpy an owned buffer through a capsule cost microseconds.
    static PyObject* empty = [] {
        nb::object numpy = nb::module_::import_("numpy");
        return nb::object(numpy.attr("empty")).release().ptr();
    }();
    static PyObject* int16 = [] {
        nb::object numpy = nb::module_::import_("numpy");
        return nb::object(numpy.attr("int16")).release().ptr();
    }();
    nb::object count = nb::steal(PyLong_FromSize_t(length));
    if (!count.is_valid()) throw nb::python_error();
    nb::object array = nb::steal(PyObject_CallFunctionObjArgs(empty, count.ptr(), int16, nullptr));
    if (!array.is_valid()) throw nb::python_error();
    Py_buffer view{};
    if (PyObject_GetBuffer(array.ptr(), &view, PyBUF_WRITABLE | PyBUF_C_CONTIGUOUS) != 0) throw nb::python_error();
    // The data stays where it is for the life of the array, which nothing else holds yet.
    const std::span<std::int16_t> data(static_cast<std::int16_t*>(view.buf), static_cast<std::size_t>(view.len) / 2);
    PyBuffer_Release(&view);
    return {std::move(array), data};
}

nb::object new_pcm_array(std::span<const std::int16_t> samples) {
    auto [array, data] = empty_pcm_array(samples.size());
    if (!samples.empty()) std::memcpy(data.data(), samples.data(), samples.size_bytes());
    return std::move(array);
}

}  // namespace ostrel_mbe::python
