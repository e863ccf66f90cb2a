// SPDX-License-Identifier: GPL-2.0-or-later
// Argument conversion for the hand-written methods: positional/keyword unpacking, and the PCM,
// wire-byte, bool, float and optional-count checks with the messages the module documents
// (TypeError naming the argument, "The given array is not contiguous", OverflowError).
#pragma once

#include <Python.h>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <vector>

#include <nanobind/nanobind.h>

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

}  // namespace ostrel_mbe::python
