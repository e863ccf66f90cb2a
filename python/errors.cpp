// SPDX-License-Identifier: GPL-2.0-or-later
#include "errors.h"

namespace ostrel_mbe::python {

void raise(PyObject* type, const std::string& message) {
    PyErr_SetString(type, message.c_str());
    throw nb::python_error();
}

std::string type_name(PyObject* obj) {
    nb::object name = nb::getattr(nb::handle(reinterpret_cast<PyObject*>(Py_TYPE(obj))), "__qualname__");
    const char* utf8 = PyUnicode_Check(name.ptr()) ? PyUnicode_AsUTF8(name.ptr()) : nullptr;
    if (utf8 == nullptr) {
        PyErr_Clear();
        return Py_TYPE(obj)->tp_name;
    }
    return utf8;
}

void raise_vocoder_error(const VocoderError& error) { raise(PyExc_ValueError, error.display()); }

}  // namespace ostrel_mbe::python
