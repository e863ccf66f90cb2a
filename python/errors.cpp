#include "errors.h"

namespace ostrel_mbe::python {

void raise(PyObject* type, const std::string& message) {
    PyErr_SetString(type, message.c_str());
    throw nb::python_error();
}

std::string type_name(PyObject* obj) {
    nb::object name = nb::getattr(nb::handle(reinterpret_cast<PyObject*>(Py_TYPE(obj))), "__qualname__");
    return nb::str(name).c_str();
}

void raise_vocoder_error(const VocoderError& error) { raise(PyExc_ValueError, error.display()); }

}  // namespace ostrel_mbe::python
