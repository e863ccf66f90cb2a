// SPDX-License-Identifier: GPL-2.0-or-later
// Turning failures into Python exceptions: library errors become ValueError with their display
// text, and every hand-written CPython entry point runs its body through `guarded`, which turns
// a pending Python error (thrown as nb::python_error) back into a NULL return.
#pragma once

#include <Python.h>

#include <expected>
#include <new>
#include <string>
#include <utility>

#include <nanobind/nanobind.h>

#include "ostrel_mbe/vocoder_error.h"

namespace ostrel_mbe::python {

namespace nb = nanobind;

// Sets `type` with `message` as the pending Python error and unwinds to the binding boundary.
[[noreturn]] void raise(PyObject* type, const std::string& message);

// The unqualified name of obj's type, e.g. "list" or "Rate", for argument errors.
std::string type_name(PyObject* obj);

// ValueError carrying the error's display text, e.g. "expected 160 PCM samples per frame, got 100".
[[noreturn]] void raise_vocoder_error(const VocoderError& error);

template <class T>
T unwrap(std::expected<T, VocoderError>&& result) {
    if (!result) raise_vocoder_error(result.error());
    return std::move(*result);
}

// Runs `body` (returning a new reference or nullptr) for a CPython C entry point, converting
// C++ exceptions into a pending Python error and a NULL result.
template <class F>
PyObject* guarded(F&& body) noexcept {
    try {
        return std::forward<F>(body)();
    } catch (nb::python_error& e) {
        e.restore();
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        PyErr_SetString(PyExc_RuntimeError, e.what());
    }
    return nullptr;
}

}  // namespace ostrel_mbe::python
