// SPDX-License-Identifier: GPL-2.0-or-later
// The module's enumeration classes: Rate, AmbePlus2Synth, EnhancementMode and FormantWeighting.
// Each is an immutable class holding one small integer, with its members as class attributes and
// no constructor; equality also holds against plain integers, ordering is refused.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include <nanobind/nanobind.h>

namespace ostrel_mbe::python {

namespace nb = nanobind;

struct RateClass {
    static constexpr const char* name = "Rate";
    static constexpr std::array<std::string_view, 4> members = {
        "IMBE_7200X4400", "IMBE_4400X4400", "AMBEPLUS2_3600X2450", "AMBEPLUS2_2450X2450"};
    static const char* const doc;
};

struct AmbePlus2SynthClass {
    static constexpr const char* name = "AmbePlus2Synth";
    static constexpr std::array<std::string_view, 2> members = {"AMBE_PLUS", "BASELINE"};
    static const char* const doc;
};

struct EnhancementModeClass {
    static constexpr const char* name = "EnhancementMode";
    static constexpr std::array<std::string_view, 2> members = {"NONE", "CLASSICAL"};
    static const char* const doc;
};

struct FormantWeightingClass {
    static constexpr const char* name = "FormantWeighting";
    static constexpr std::array<std::string_view, 2> members = {"COMPAT", "STANDARD"};
    static const char* const doc;
};

// One member of the enumeration class described by `Class`; `value` indexes Class::members.
template <class Class>
struct EnumMember {
    std::uint8_t value = 0;
};

using PyRate = EnumMember<RateClass>;
using PyAmbePlus2Synth = EnumMember<AmbePlus2SynthClass>;
using PyEnhancementMode = EnumMember<EnhancementModeClass>;
using PyFormantWeighting = EnumMember<FormantWeightingClass>;

// Registers Rate, AmbePlus2Synth and EnhancementMode on `m`, in module order.
void register_enums(nb::module_& m);
// Registers FormantWeighting, which follows the working classes in the module.
void register_formant_weighting(nb::module_& m);

// The class attribute object for `value` (so `v.rate is Rate.IMBE_7200X4400` holds).
template <class Class>
nb::object member_object(std::uint8_t value) {
    return nb::type<EnumMember<Class>>().attr(nb::str(Class::members[value].data(), Class::members[value].size()));
}

// The value of `obj` if it is a member of `Class`; otherwise raises TypeError naming `argument`
// and the expected class, e.g. "argument 'gen': 'Rate' object cannot be converted to 'AmbePlus2Synth'".
template <class Class>
std::uint8_t member_value(nb::handle obj, const char* argument);

}  // namespace ostrel_mbe::python
