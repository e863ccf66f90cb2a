// SPDX-License-Identifier: GPL-2.0-or-later
// The decoded-output settings (level control, tone-frame reading, cautious call start) for
// every class that decodes through a channel (Vocoder, LiveDecoder): setter methods
// set_<name>(on) or set_<name>(db) and read-only properties of the same names.
#pragma once

#include <Python.h>

#include <array>
#include <type_traits>
#include <utility>

#include "bound_class.h"
#include "ostrel_mbe/live.h"
#include "ostrel_mbe/vocoder.h"

namespace ostrel_mbe::python::output_settings {

template <class Core>
Vocoder& channel(PyObject* self) {
    if constexpr (std::is_same_v<Core, Vocoder>) {
        return core_of<Vocoder>(self);
    } else {
        return core_of<Core>(self).channel();
    }
}

template <class T>
struct Setting {
    const char* name;
    const char* setter;
    const char* setter_doc;
    const char* argument;
    T (Vocoder::*get)() const;
    void (Vocoder::*set)(T);
};

inline constexpr std::array<Setting<bool>, 4> FLAGS = {{
    {"agc", "set_agc", "set_agc($self, on)\n--\n\n", "on", &Vocoder::agc, &Vocoder::set_agc},
    {"tone_copies", "set_tone_copies", "set_tone_copies($self, on)\n--\n\n", "on", &Vocoder::tone_copies,
     &Vocoder::set_tone_copies},
    {"mute_tones", "set_mute_tones", "set_mute_tones($self, on)\n--\n\n", "on", &Vocoder::mute_tones,
     &Vocoder::set_mute_tones},
    {"cautious_start", "set_cautious_start", "set_cautious_start($self, on)\n--\n\n", "on",
     &Vocoder::cautious_start, &Vocoder::set_cautious_start},
}};

inline constexpr std::array<Setting<double>, 3> NUMBERS = {{
    {"agc_level", "set_agc_level", "set_agc_level($self, dbfs)\n--\n\n", "dbfs", &Vocoder::agc_level,
     &Vocoder::set_agc_level},
    {"agc_max_gain", "set_agc_max_gain", "set_agc_max_gain($self, db)\n--\n\n", "db", &Vocoder::agc_max_gain,
     &Vocoder::set_agc_max_gain},
    {"output_gain", "set_output_gain", "set_output_gain($self, db)\n--\n\n", "db", &Vocoder::output_gain,
     &Vocoder::set_output_gain},
}};

template <class Core, class T, const auto& Table, std::size_t I>
PyObject* set(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        Vocoder& c = channel<Core>(self);
        PyObject* value = nullptr;
        unpack_arguments(args, kwargs, Table[I].setter, {Table[I].argument}, 1, &value);
        if constexpr (std::is_same_v<T, bool>) {
            (c.*Table[I].set)(bool_argument(value, Table[I].argument));
        } else {
            (c.*Table[I].set)(float_argument(value, Table[I].argument));
        }
        Py_RETURN_NONE;
    });
}

template <class Core, std::size_t... F, std::size_t... N>
void add_methods(MethodTable& table, std::index_sequence<F...>, std::index_sequence<N...>) {
    (table.add(FLAGS[F].setter, &set<Core, bool, FLAGS, F>, FLAGS[F].setter_doc), ...);
    (table.add(NUMBERS[N].setter, &set<Core, double, NUMBERS, N>, NUMBERS[N].setter_doc), ...);
}

// The setter methods, added to a class's method table.
template <class Core>
MethodTable& add_methods(MethodTable& table) {
    add_methods<Core>(table, std::make_index_sequence<FLAGS.size()>{}, std::make_index_sequence<NUMBERS.size()>{});
    return table;
}

// The getter properties.
template <class Core>
void add_properties(nb::class_<Bound<Core>>& cls) {
    const auto channel_of = [](Bound<Core>& self) -> const Vocoder& {
        if constexpr (std::is_same_v<Core, Vocoder>) {
            return core_of(self);
        } else {
            return core_of(self).channel();
        }
    };
    for (const Setting<bool>& flag : FLAGS)
        cls.def_prop_ro(flag.name, [get = flag.get, channel_of](Bound<Core>& self) { return (channel_of(self).*get)(); });
    for (const Setting<double>& number : NUMBERS)
        cls.def_prop_ro(number.name,
                        [get = number.get, channel_of](Bound<Core>& self) { return (channel_of(self).*get)(); });
}

}  // namespace ostrel_mbe::python::output_settings
