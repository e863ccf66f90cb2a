// SPDX-License-Identifier: GPL-2.0-or-later
// The channel settings as Python setter methods and getter properties, for every class that
// holds a channel: Vocoder all of them, LiveEncoder those of the encoding direction and
// LiveDecoder those of the decoding direction (the same names, docstrings and checks).
#pragma once

#include <Python.h>

#include <array>
#include <cstdint>
#include <string>
#include <utility>

#include <nanobind/stl/optional.h>

#include "bound_class.h"
#include "enums.h"
#include "ostrel_mbe/live.h"
#include "ostrel_mbe/vocoder.h"

namespace ostrel_mbe::python {

enum Direction : unsigned { ENCODING = 1, DECODING = 2, BOTH = 3 };

// The channel inside a class's library object.
inline Vocoder& channel_in(Vocoder& channel) { return channel; }
inline Vocoder& channel_in(LiveEncoder& encoder) { return encoder.channel(); }
inline Vocoder& channel_in(LiveDecoder& decoder) { return decoder.channel(); }

namespace settings {

// --- boolean settings: getter property `name`, setter method `set_<name>(on)` ----------------

struct Flag {
    const char* name;
    const char* setter;
    const char* setter_doc;
    bool (Vocoder::*get)() const;
    void (Vocoder::*set)(bool);
    Direction direction;
};

inline constexpr std::array<Flag, 10> FLAGS = {{
    {"tone_detection", "set_tone_detection", "set_tone_detection($self, on)\n--\n\n", &Vocoder::tone_detection,
     &Vocoder::set_tone_detection, ENCODING},
    {"spectral_subtraction", "set_spectral_subtraction", "set_spectral_subtraction($self, on)\n--\n\n",
     &Vocoder::spectral_subtraction, &Vocoder::set_spectral_subtraction, ENCODING},
    {"silence_dispatch", "set_silence_dispatch", "set_silence_dispatch($self, on)\n--\n\n",
     &Vocoder::silence_dispatch, &Vocoder::set_silence_dispatch, ENCODING},
    {"chip_compat", "set_chip_compat", "set_chip_compat($self, on)\n--\n\n", &Vocoder::chip_compat,
     &Vocoder::set_chip_compat, DECODING},
    {"chip_compat_spectral_clamp", "set_chip_compat_spectral_clamp",
     "set_chip_compat_spectral_clamp($self, on)\n--\n\n", &Vocoder::chip_compat_spectral_clamp,
     &Vocoder::set_chip_compat_spectral_clamp, DECODING},
    {"pitch_silence_override", "set_pitch_silence_override", "set_pitch_silence_override($self, on)\n--\n\n",
     &Vocoder::pitch_silence_override, &Vocoder::set_pitch_silence_override, ENCODING},
    {"default_pitch_on_silence", "set_default_pitch_on_silence",
     "set_default_pitch_on_silence($self, on)\n--\n\n", &Vocoder::default_pitch_on_silence,
     &Vocoder::set_default_pitch_on_silence, ENCODING},
    {"pyin_pitch", "set_pyin_pitch", "set_pyin_pitch($self, on)\n--\n\n", &Vocoder::pyin_pitch,
     &Vocoder::set_pyin_pitch, ENCODING},
    {"quantizer_search", "set_quantizer_search", "set_quantizer_search($self, on)\n--\n\n",
     &Vocoder::quantizer_search, &Vocoder::set_quantizer_search, ENCODING},
    {"strict_tone_detection", "set_strict_tone_detection", "set_strict_tone_detection($self, on)\n--\n\n",
     &Vocoder::strict_tone_detection, &Vocoder::set_strict_tone_detection, ENCODING},
}};

// The body of a setter method of one argument: unpacks it (required unless `required` is 0)
// and hands it to set(channel, value).
template <class Core, class Set>
PyObject* call_setter(PyObject* self, PyObject* args, PyObject* kwargs, const char* method, const char* argument,
                      std::size_t required, Set&& set) {
    return guarded([&]() -> PyObject* {
        Vocoder& channel = channel_in(core_of<Core>(self));
        PyObject* value = nullptr;
        unpack_arguments(args, kwargs, method, {argument}, required, &value);
        set(channel, value);
        Py_RETURN_NONE;
    });
}

template <class Core, std::size_t I>
PyObject* set_flag(PyObject* self, PyObject* args, PyObject* kwargs) {
    return call_setter<Core>(self, args, kwargs, FLAGS[I].setter, "on", 1,
                             [](Vocoder& channel, PyObject* on) { (channel.*FLAGS[I].set)(bool_argument(on, "on")); });
}

inline enhancement::EnhancementMode core_enhancement(std::uint8_t member) {
    return member == 0 ? enhancement::EnhancementMode::None : enhancement::EnhancementMode::Classical;
}

inline std::uint8_t enhancement_member(enhancement::EnhancementMode mode) {
    return mode == enhancement::EnhancementMode::Classical ? 1 : 0;
}

template <class Core>
PyObject* set_amp_ema_alpha(PyObject* self, PyObject* args, PyObject* kwargs) {
    return call_setter<Core>(self, args, kwargs, "set_amp_ema_alpha", "alpha", 1, [](Vocoder& channel, PyObject* alpha) {
        channel.set_amp_ema_alpha(float_argument(alpha, "alpha"));
    });
}

template <class Core>
PyObject* set_repeat_reset_after(PyObject* self, PyObject* args, PyObject* kwargs) {
    return call_setter<Core>(self, args, kwargs, "set_repeat_reset_after", "n", 0, [](Vocoder& channel, PyObject* n) {
        channel.set_repeat_reset_after(optional_u32_argument(n, "n"));
    });
}

template <class Core>
PyObject* set_ambe_plus2_synth(PyObject* self, PyObject* args, PyObject* kwargs) {
    return call_setter<Core>(self, args, kwargs, "set_ambe_plus2_synth", "gen", 1, [](Vocoder& channel, PyObject* gen) {
        channel.set_ambe_plus2_synth(static_cast<AmbePlus2Synth>(member_value<AmbePlus2SynthClass>(gen, "gen")));
    });
}

template <class Core>
PyObject* set_enhancement(PyObject* self, PyObject* args, PyObject* kwargs) {
    return call_setter<Core>(self, args, kwargs, "set_enhancement", "mode", 1, [](Vocoder& channel, PyObject* mode) {
        channel.set_enhancement(core_enhancement(member_value<EnhancementModeClass>(mode, "mode")));
    });
}

template <class Core>
PyObject* set_formant_weighting(PyObject* self, PyObject* args, PyObject* kwargs) {
    return call_setter<Core>(
        self, args, kwargs, "set_formant_weighting", "weighting", 1, [](Vocoder& channel, PyObject* weighting) {
            channel.set_formant_weighting(static_cast<codecs::mbe_baseline::FormantWeighting>(
                member_value<FormantWeightingClass>(weighting, "weighting")));
        });
}

template <class Core, std::size_t... I>
void add_flag_setters(MethodTable& table, unsigned directions, std::index_sequence<I...>) {
    ((FLAGS[I].direction & directions ? (void)table.add(FLAGS[I].setter, &set_flag<Core, I>, FLAGS[I].setter_doc)
                                      : void()),
     ...);
}

}  // namespace settings

// The setter methods of the settings of `directions`; their docstrings are the signature
// lines alone (the stub documents each setting).
template <class Core>
void add_setting_methods(MethodTable& table, unsigned directions) {
    using namespace settings;
    add_flag_setters<Core>(table, directions, std::make_index_sequence<FLAGS.size()>{});
    if (directions & ENCODING) table.add("set_amp_ema_alpha", &set_amp_ema_alpha<Core>, "set_amp_ema_alpha($self, alpha)\n--\n\n");
    if (directions & DECODING) {
        table.add("set_repeat_reset_after", &set_repeat_reset_after<Core>, "set_repeat_reset_after($self, n=None)\n--\n\n")
            .add("set_ambe_plus2_synth", &set_ambe_plus2_synth<Core>, "set_ambe_plus2_synth($self, gen)\n--\n\n")
            .add("set_enhancement", &set_enhancement<Core>, "set_enhancement($self, mode)\n--\n\n")
            .add("set_formant_weighting", &set_formant_weighting<Core>, "set_formant_weighting($self, weighting)\n--\n\n");
    }
}

// The getter properties of the settings of `directions`.
template <class Core>
void add_setting_properties(nb::class_<Bound<Core>>& cls, unsigned directions) {
    using namespace settings;
    auto channel = [](Bound<Core>& self) -> Vocoder& { return channel_in(core_of(self)); };
    for (const Flag& flag : FLAGS) {
        if (flag.direction & directions)
            cls.def_prop_ro(flag.name, [channel, get = flag.get](Bound<Core>& self) { return (channel(self).*get)(); });
    }
    if (directions & ENCODING)
        cls.def_prop_ro("amp_ema_alpha", [channel](Bound<Core>& self) { return channel(self).amp_ema_alpha(); });
    if (!(directions & DECODING)) return;
    cls.def_prop_ro("repeat_reset_after", [channel](Bound<Core>& self) { return channel(self).repeat_reset_after(); });
    cls.def_prop_ro(
        "ambe_plus2_synth",
        [channel](Bound<Core>& self) {
            return member_object<AmbePlus2SynthClass>(static_cast<std::uint8_t>(channel(self).ambe_plus2_synth()));
        },
        nb::for_getter(nb::sig("def ambe_plus2_synth(self, /) -> AmbePlus2Synth")));
    cls.def_prop_ro(
        "enhancement",
        [channel](Bound<Core>& self) {
            return member_object<EnhancementModeClass>(enhancement_member(channel(self).enhancement()));
        },
        nb::for_getter(nb::sig("def enhancement(self, /) -> EnhancementMode")));
    cls.def_prop_ro(
        "formant_weighting",
        [channel](Bound<Core>& self) {
            return member_object<FormantWeightingClass>(static_cast<std::uint8_t>(channel(self).formant_weighting()));
        },
        nb::for_getter(nb::sig("def formant_weighting(self, /) -> FormantWeighting")));
}

}  // namespace ostrel_mbe::python
