// SPDX-License-Identifier: GPL-2.0-or-later
// What the module's four working classes (Vocoder, LiveEncoder, LiveDecoder, Transcoder) share:
// each Python object holds one library object bound to its creating thread; the constructor is
// a slot initialiser and the methods are plain CPython method descriptors, so that their
// docstrings carry a signature line ("push($self, pcm)\n--\n\n...") that CPython turns into
// __text_signature__ and __doc__.
#pragma once

#include <Python.h>

#include <initializer_list>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include <nanobind/nanobind.h>

#include "args.h"
#include "errors.h"
#include "thread_bound.h"

namespace ostrel_mbe::python {

namespace nb = nanobind;

// Names of the class wrapping Core, specialised next to each binding: `python`, the Python
// class name ("Vocoder"), and `internal`, the type name of the thread-binding messages
// ("_ostrel_mbe::PyVocoder").
template <class Core>
struct ClassNames;

// The Python object's payload: one library object of type Core, bound to its creating thread
// under its internal type name (e.g. "_ostrel_mbe::PyVocoder").
template <class Core>
struct Bound {
    Bound(const char* type_name, std::unique_ptr<Core> core) : object(type_name, std::move(core)) {}
    ThreadBound<Core> object;
};

// The library object behind `self`, on its own thread only; an instance made through
// __new__ alone has none yet.
template <class Core>
Core& core_of(PyObject* self) {
    if (!nb::inst_ready(self))
        raise(PyExc_RuntimeError, std::string(ClassNames<Core>::python) + " object is not initialised");
    return nb::inst_ptr<Bound<Core>>(self)->object.get();
}

template <class Core>
Core& core_of(Bound<Core>& self) {
    return self.object.get();
}

// Body of a slot initialiser: unpacks `names` (all required) and constructs the payload from
// the library object that make(arguments) returns.
template <class Core, class Make>
int init_bound(PyObject* self, PyObject* args, PyObject* kwargs, std::initializer_list<const char*> names,
               Make&& make) {
    const char* class_name = ClassNames<Core>::python;
    PyObject* result = guarded([&]() -> PyObject* {
        PyObject* argv[2] = {nullptr, nullptr};
        unpack_arguments(args, kwargs, class_name, names, names.size(), argv);
        std::unique_ptr<Core> core = make(argv);
        if (nb::inst_ready(self)) raise(PyExc_RuntimeError, std::string(class_name) + " object is already initialised");
        new (nb::inst_ptr<Bound<Core>>(self)) Bound<Core>(ClassNames<Core>::internal, std::move(core));
        nb::inst_mark_ready(self);
        Py_RETURN_NONE;
    });
    if (result == nullptr) return -1;
    Py_DECREF(result);
    return 0;
}

template <class F>
PyCFunction as_cfunction(F f) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

// A type's method table (Py_tp_methods), one add() per method, always terminated.  The type
// keeps pointers into it, so callers hold it in a function-local static.
class MethodTable {
public:
    using WithArguments = PyObject* (*)(PyObject*, PyObject*, PyObject*);
    using NoArguments = PyObject* (*)(PyObject*, PyObject*);

    MethodTable& add(const char* name, WithArguments f, const char* doc) {
        return insert({name, as_cfunction(f), METH_VARARGS | METH_KEYWORDS, doc});
    }
    MethodTable& add(const char* name, NoArguments f, const char* doc) {
        return insert({name, as_cfunction(f), METH_NOARGS, doc});
    }
    PyMethodDef* data() & { return defs_.data(); }

private:
    MethodTable& insert(const PyMethodDef& def) {
        defs_.insert(defs_.end() - 1, def);
        return *this;
    }
    std::vector<PyMethodDef> defs_{PyMethodDef{nullptr, nullptr, 0, nullptr}};
};

// Registers a final class with a slot initialiser and a method table; properties and __repr__
// are added on the returned class.
template <class Core>
nb::class_<Bound<Core>> bound_class(nb::module_& m, const char* doc, initproc init, PyMethodDef* methods) {
    static PyType_Slot slots[] = {
        {Py_tp_init, reinterpret_cast<void*>(init)},
        {Py_tp_methods, methods},
        {0, nullptr},
    };
    return nb::class_<Bound<Core>>(m, ClassNames<Core>::python, nb::is_final(), nb::type_slots(slots), doc);
}

}  // namespace ostrel_mbe::python
