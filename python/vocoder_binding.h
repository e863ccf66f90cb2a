// Registration of the Vocoder class (one channel per Python object).
#pragma once

#include <nanobind/nanobind.h>

namespace ostrel_mbe::python {

void register_vocoder(nanobind::module_& m);

}  // namespace ostrel_mbe::python
