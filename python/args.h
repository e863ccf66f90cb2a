// SPDX-License-Identifier: GPL-2.0-or-later
// Argument conversion for the hand-written methods: positional/keyword unpacking, and the PCM,
// wire-byte, bool, float and optional-count checks with the messages the module documents
// (TypeError naming the argument, "The given array is not contiguous", OverflowError); and the
// PCM and wire-byte results.
#pragma once

#include <Python.h>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include <nanobind/nanobind.h>

#include "ostrel_mbe/pipeline_types.h"

namespace ostrel_mbe::python {

namespace nb = nanobind;

// Unpacks the call's arguments by position or keyword into `out` (borrowed references; the
// optional trailing ones stay nullptr when omitted).  Raises TypeError as Python functions do.
void unpack_arguments(PyObject* args, PyObject* kwargs, const char* function,
                      std::initializer_list<const char*> names, std::size_t required, PyObject** out);

// A read-only view of a 1-D contiguous numpy.int16 array, released with the object.
class PcmArgument {
public:
    PcmArgument(PyObject* obj, const char* argument);
    ~PcmArgument();
    PcmArgument(const PcmArgument&) = delete;
    PcmArgument& operator=(const PcmArgument&) = delete;

    std::span<const std::int16_t> samples() const { return samples_; }

private:
    Py_buffer view_{};
    bool held_ = false;
    std::vector<std::int16_t> realigned_;  // only for arrays whose data is not 2-byte aligned
    std::span<const std::int16_t> samples_;
};

// The contents of a `bytes` object (subclasses included); TypeError naming `argument` otherwise.
std::span<const std::uint8_t> bytes_argument(PyObject* obj, const char* argument);

bool bool_argument(PyObject* obj, const char* argument);
double float_argument(PyObject* obj, const char* argument);
// None (or omitted) gives nullopt; a negative or too large integer raises OverflowError.
std::optional<std::uint32_t> optional_u32_argument(PyObject* obj, const char* argument);

// A new numpy.int16 array holding a copy of `samples`.
nb::object new_pcm_array(std::span<const std::int16_t> samples);
// A new numpy.int16 array of `length` samples, not yet written, and its data, which a call may
// fill with the interpreter lock released (no other code holds the array yet).
std::pair<nb::object, std::span<std::int16_t>> empty_pcm_array(std::size_t length);

// A new `bytes` object holding the frame's wire bytes (a new reference, nullptr on failure).
inline PyObject* new_wire_bytes(const WireFrame& frame) {
    return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(frame.bytes.data()), frame.length);
}

}  // namespace ostrel_mbe::python
