// SPDX-License-Identifier: GPL-2.0-or-later
// Binds a library object to the Python thread that created it.  Every access from another
// thread raises RuntimeError; releasing the wrapper on another thread leaks the library object
// (its destructor never runs off its thread) and reports an unraisable RuntimeError instead.
#pragma once

#include <Python.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "errors.h"

namespace ostrel_mbe::python {

// Identity of the calling OS thread that is never reused within the process (pthread ids are
// recycled once a thread has been joined, which would let a later thread pass the check).
std::uint64_t current_thread_token();

template <class T>
class ThreadBound {
public:
    // `type_name` is the internal type name used in messages, e.g. "_ostrel_mbe::PyVocoder".
    ThreadBound(const char* type_name, std::unique_ptr<T> value)
        : type_name_(type_name), owner_(current_thread_token()), value_(std::move(value)) {}

    ThreadBound(const ThreadBound&) = delete;
    ThreadBound& operator=(const ThreadBound&) = delete;

    ~ThreadBound() {
        if (owner_ == current_thread_token()) return;
        // Released on a foreign thread: leak the object and tell the interpreter, keeping
        // whatever error may already be in flight around this deallocation.
        (void)value_.release();
        PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
        PyErr_Fetch(&type, &value, &traceback);
        const std::string message = std::string(type_name_) + " is unsendable, but is being dropped on another thread";
        PyErr_SetString(PyExc_RuntimeError, message.c_str());
        PyErr_WriteUnraisable(nullptr);
        PyErr_Restore(type, value, traceback);
    }

    // The bound object; raises RuntimeError when called on a thread other than the creator's.
    T& get() {
        check_thread();
        return *value_;
    }

private:
    void check_thread() const {
        if (owner_ != current_thread_token())
            raise(PyExc_RuntimeError, std::string(type_name_) + " is unsendable, but sent to another thread");
    }

    const char* type_name_;
    std::uint64_t owner_;
    std::unique_ptr<T> value_;
};

}  // namespace ostrel_mbe::python
