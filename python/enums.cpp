// SPDX-License-Identifier: GPL-2.0-or-later
#include "enums.h"

#include <Python.h>

#include <string>

#include <nanobind/stl/string.h>

#include "errors.h"

namespace ostrel_mbe::python {

const char* const RateClass::doc =
    "On-wire rate / codec selection. The four variants cover the\n"
    "production P25 storage and transport formats. See the upstream\n"
    "`docs/wire_formats_and_storage.md` for the trade-offs.";

const char* const AmbePlus2SynthClass::doc =
    "AMBE+2 unvoiced/voiced synthesis variant. Default is\n"
    "`AmbePlus` — modern AMBE+ / AMBE+2 sound with US5701390 phase\n"
    "regen. `Baseline` gives the plain half-rate synthesis of the\n"
    "standard, without Hilbert phase regeneration.";

const char* const EnhancementModeClass::doc =
    "Post-decoder PCM enhancement mode. `NONE` is spec-faithful (no\n"
    "post-processing); `CLASSICAL` applies the default biquad +\n"
    "peaking-EQ + output-gain chain (no compressor, fade enabled).\n"
    "`CLASSICAL` is the upstream library default.\n"
    "\n"
    "Fine-grained tuning of the classical chain (custom biquads,\n"
    "compressor knobs, fade samples) isn't exposed from Python yet —\n"
    "open an issue if you need it.";

const char* const FormantWeightingClass::doc =
    "Formant weighting of the decoder's spectral amplitude enhancement.\n"
    "`COMPAT` (the default) keeps the library's long-standing weight,\n"
    "which grows with the signal level: at speech levels it mostly\n"
    "saturates and sharpens formants little. `STANDARD` uses the\n"
    "level-independent weight of TIA-102.BABA, which sharpens formants\n"
    "at any level (higher PESQ, slightly lower STOI on our speech clips).";

namespace {

nb::object not_implemented() { return nb::borrow(Py_NotImplemented); }

// Equality against a member of the same class or anything with an integer value (__index__);
// NotImplemented otherwise, so Python falls back to its default and reflected comparisons.
template <class Class>
nb::object equals(const EnumMember<Class>& self, nb::handle other, bool negate) {
    bool equal = false;
    if (nb::isinstance<EnumMember<Class>>(other)) {
        equal = nb::cast<const EnumMember<Class>&>(other).value == self.value;
    } else {
        PyObject* index = PyNumber_Index(other.ptr());
        if (index == nullptr) {
            PyErr_Clear();
            return not_implemented();
        }
        nb::object as_int = nb::steal(index);
        nb::object own = nb::int_(self.value);
        const int cmp = PyObject_RichCompareBool(own.ptr(), as_int.ptr(), Py_EQ);
        if (cmp < 0) throw nb::python_error();
        equal = cmp == 1;
    }
    return nb::bool_(equal != negate);
}

// Members live in their own class's dict, so each member refers back to its class: visiting
// the type lets the cycle collector reclaim both at interpreter shutdown.
int traverse_member(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    return 0;
}

PyType_Slot member_slots[] = {
    {Py_tp_traverse, reinterpret_cast<void*>(&traverse_member)},
    {0, nullptr},
};

template <class Class>
void register_enum(nb::module_& m) {
    using Member = EnumMember<Class>;
    auto cls = nb::class_<Member>(m, Class::name, nb::is_final(), nb::type_slots(member_slots), Class::doc);
    // No __index__: a member must not pass for an integer of another enumeration class.
    cls.def("__int__", [](const Member& self) { return int{self.value}; })
        .def("__repr__",
             [](const Member& self) {
                 const std::string_view member = Class::members[self.value];
                 return std::string(Class::name) + "." + std::string(member);
             })
        .def("__hash__", [](const Member& self) { return static_cast<Py_hash_t>(self.value); })
        // Pickled by name, unpickled as the class attribute: the very same member object.
        .def("__reduce__",
             [](nb::handle self) {
                 const std::string_view member = Class::members[nb::inst_ptr<Member>(self)->value];
                 nb::object getattr = nb::module_::import_("builtins").attr("getattr");
                 return nb::make_tuple(getattr, nb::make_tuple(self.type(), nb::str(member.data(), member.size())));
             },
             nb::sig("def __reduce__(self, /) -> tuple[object, tuple[object, str]]"))
        .def("__eq__", [](const Member& self, nb::handle other) { return equals(self, other, false); },
             nb::arg("other").none(), nb::sig("def __eq__(self, other: object, /) -> bool"))
        .def("__ne__", [](const Member& self, nb::handle other) { return equals(self, other, true); },
             nb::arg("other").none(), nb::sig("def __ne__(self, other: object, /) -> bool"));
    for (const char* op : {"__lt__", "__le__", "__gt__", "__ge__"})
        cls.def(op, [](const Member&, nb::handle) { return not_implemented(); }, nb::arg("other").none());
    for (std::size_t i = 0; i < Class::members.size(); ++i) {
        const std::string_view member = Class::members[i];
        cls.attr(nb::str(member.data(), member.size())) = Member{static_cast<std::uint8_t>(i)};
    }
}

}  // namespace

template <class Class>
std::uint8_t member_value(nb::handle obj, const char* argument) {
    if (!nb::isinstance<EnumMember<Class>>(obj) || !nb::inst_ready(obj)) {
        raise(PyExc_TypeError, std::string("argument '") + argument + "': '" + type_name(obj.ptr()) +
                                   "' object cannot be converted to '" + Class::name + "'");
    }
    return nb::inst_ptr<EnumMember<Class>>(obj)->value;
}

template std::uint8_t member_value<RateClass>(nb::handle, const char*);
template std::uint8_t member_value<AmbePlus2SynthClass>(nb::handle, const char*);
template std::uint8_t member_value<EnhancementModeClass>(nb::handle, const char*);
template std::uint8_t member_value<FormantWeightingClass>(nb::handle, const char*);

void register_enums(nb::module_& m) {
    register_enum<RateClass>(m);
    register_enum<AmbePlus2SynthClass>(m);
    register_enum<EnhancementModeClass>(m);
}

void register_formant_weighting(nb::module_& m) { register_enum<FormantWeightingClass>(m); }

}  // namespace ostrel_mbe::python
