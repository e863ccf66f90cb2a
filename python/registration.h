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

// The formant weighting of a channel, for every class that holds one (Vocoder, LiveDecoder):
// the body of set_formant_weighting(weighting) and the formant_weighting property.
PyObject* set_channel_formant_weighting(Vocoder& channel, PyObject* args, PyObject* kwargs);
nanobind::object channel_formant_weighting(const Vocoder& channel);

}  // namespace ostrel_mbe::python
