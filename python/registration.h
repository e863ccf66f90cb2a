// SPDX-License-Identifier: GPL-2.0-or-later
// Registration of the module's working classes, one function per class group.
#pragma once

#include <Python.h>

#include <nanobind/nanobind.h>

#include "ostrel_mbe/vocoder.h"

namespace ostrel_mbe::python {

void register_vocoder(nanobind::module_& m);
void register_streaming(nanobind::module_& m);  // LiveEncoder, LiveDecoder
void register_transcoder(nanobind::module_& m);

}  // namespace ostrel_mbe::python
