// SPDX-License-Identifier: GPL-2.0-or-later
// The _ostrel_mbe extension module: registration of every class group in module order.
#include <nanobind/nanobind.h>

#include "enums.h"
#include "registration.h"
#include "without_gil.h"

namespace nb = nanobind;

NB_MODULE(_ostrel_mbe, m) {
    ostrel_mbe::python::register_enums(m);
    ostrel_mbe::python::register_vocoder(m);
    ostrel_mbe::python::register_streaming(m);
    ostrel_mbe::python::register_transcoder(m);
    ostrel_mbe::python::register_formant_weighting(m);
    m.attr("__version__") = "0.1.0";
    ostrel_mbe::python::exit_gate::install();
}
