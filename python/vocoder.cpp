// SPDX-License-Identifier: GPL-2.0-or-later
// Python class Vocoder: one library channel per object, bound to the creating thread.
#include "registration.h"

#include <Python.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <utility>

#include <nanobind/stl/optional.h>
#include <nanobind/stl/string.h>

#include "bound_class.h"
#include "enums.h"
#include "soft_methods.h"
#include "ostrel_mbe/vocoder.h"
#include "output_settings.h"
#include "without_gil.h"

namespace ostrel_mbe::python {

template <>
struct ClassNames<Vocoder> {
    static constexpr const char* python = "Vocoder";
    static constexpr const char* internal = "_ostrel_mbe::PyVocoder";
};

namespace {

constexpr const char* VOCODER_DOC =
    "Vocoder(rate)\n--\n\n"
    "One vocoder channel. Stateful across frames (analysis history,\n"
    "LCG state, decoder cross-frame memory). Use [`Vocoder.reset`] to\n"
    "clear between independent streams.";

using PyVocoder = Bound<Vocoder>;

Vocoder& channel_of(PyObject* self) { return core_of<Vocoder>(self); }
Vocoder& channel_of(PyVocoder& self) { return core_of(self); }

enhancement::EnhancementMode core_enhancement(std::uint8_t member) {
    return member == 0 ? enhancement::EnhancementMode::None : enhancement::EnhancementMode::Classical;
}

std::uint8_t enhancement_member(enhancement::EnhancementMode mode) {
    return mode == enhancement::EnhancementMode::Classical ? 1 : 0;
}

// --- methods -------------------------------------------------------------------------------

PyObject* encode_pcm(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        Vocoder& channel = channel_of(self);
        PyObject* pcm_obj = nullptr;
        unpack_arguments(args, kwargs, "encode_pcm", {"pcm"}, 1, &pcm_obj);
        const PcmArgument pcm(pcm_obj, "pcm");
        // The array stays writable by other threads while the lock is released: work on a copy.
        std::array<std::int16_t, FRAME_SAMPLES> copy{};
        std::span<const std::int16_t> samples = pcm.samples();
        if (samples.size() == copy.size()) {
            std::copy(samples.begin(), samples.end(), copy.begin());
            samples = copy;
        }
        return new_wire_bytes(unwrap(without_gil([&] { return channel.encode_pcm(samples); })));
    });
}

PyObject* decode_bits(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        Vocoder& channel = channel_of(self);
        PyObject* bits_obj = nullptr;
        unpack_arguments(args, kwargs, "decode_bits", {"bits"}, 1, &bits_obj);
        const std::span<const std::uint8_t> bits = bytes_argument(bits_obj, "bits");  // immutable
        const PcmFrame pcm = unwrap(without_gil([&] { return channel.decode_bits(bits); }));
        return new_pcm_array(pcm).release().ptr();
    });
}

PyObject* decode_soft(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* { return vocoder_decode_soft(channel_of(self), args, kwargs); });
}

PyObject* decode_lost(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* { return vocoder_decode_lost(channel_of(self)); });
}

PyObject* set_lost_frame_repeats(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* { return vocoder_set_lost_frame_repeats(channel_of(self), args, kwargs); });
}

PyObject* last_output_kind(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        const std::optional<OutputKind> kind = channel_of(self).last_output_kind();
        if (!kind) Py_RETURN_NONE;
        const std::string_view text = output_kind_text(*kind);
        return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    });
}

PyObject* last_tone_detection(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        const std::optional<ToneReport> tone = channel_of(self).last_tone_detection();
        if (!tone) Py_RETURN_NONE;
        return nb::make_tuple(int{tone->id}, int{tone->amplitude}).release().ptr();
    });
}

const char* disposition_text(codecs::mbe_baseline::FrameDisposition disposition) {
    switch (disposition) {
        case codecs::mbe_baseline::FrameDisposition::Normal: return "normal";
        case codecs::mbe_baseline::FrameDisposition::Repeat: return "repeat";
        case codecs::mbe_baseline::FrameDisposition::Mute: return "mute";
        case codecs::mbe_baseline::FrameDisposition::None: break;
    }
    return nullptr;
}

PyObject* last_decode_report(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        const DecodeReport& report = channel_of(self).last_decode_report();
        if (!report.kind) Py_RETURN_NONE;
        nb::dict out;
        out["kind"] = nb::str(frame_kind_text(*report.kind).data());
        const char* disposition = disposition_text(report.disposition);
        out["disposition"] = disposition ? nb::object(nb::str(disposition)) : nb::none();
        nb::list errors;
        for (std::size_t i = 0; i < report.code_vectors; ++i) errors.append(int{report.errors[i]});
        out["errors"] = nb::tuple(errors);
        out["e0"] = int{report.e0};
        out["total"] = int{report.total};
        out["tone"] = report.tone ? nb::object(nb::make_tuple(int{report.tone->id}, int{report.tone->amplitude}))
                                  : nb::none();
        return out.release().ptr();
    });
}

// --- boolean settings: getter property `name`, setter method `set_<name>(on)` ----------------

struct Flag {
    const char* name;
    const char* setter;
    const char* setter_doc;
    bool (Vocoder::*get)() const;
    void (Vocoder::*set)(bool);
};

constexpr std::array<Flag, 9> FLAGS = {{
    {"tone_detection", "set_tone_detection", "set_tone_detection($self, on)\n--\n\n",
     &Vocoder::tone_detection, &Vocoder::set_tone_detection},
    {"spectral_subtraction", "set_spectral_subtraction", "set_spectral_subtraction($self, on)\n--\n\n",
     &Vocoder::spectral_subtraction, &Vocoder::set_spectral_subtraction},
    {"silence_dispatch", "set_silence_dispatch", "set_silence_dispatch($self, on)\n--\n\n",
     &Vocoder::silence_dispatch, &Vocoder::set_silence_dispatch},
    {"chip_compat", "set_chip_compat", "set_chip_compat($self, on)\n--\n\n",
     &Vocoder::chip_compat, &Vocoder::set_chip_compat},
    {"chip_compat_spectral_clamp", "set_chip_compat_spectral_clamp",
     "set_chip_compat_spectral_clamp($self, on)\n--\n\n", &Vocoder::chip_compat_spectral_clamp,
     &Vocoder::set_chip_compat_spectral_clamp},
    {"pitch_silence_override", "set_pitch_silence_override", "set_pitch_silence_override($self, on)\n--\n\n",
     &Vocoder::pitch_silence_override, &Vocoder::set_pitch_silence_override},
    {"default_pitch_on_silence", "set_default_pitch_on_silence",
     "set_default_pitch_on_silence($self, on)\n--\n\n", &Vocoder::default_pitch_on_silence,
     &Vocoder::set_default_pitch_on_silence},
    {"pyin_pitch", "set_pyin_pitch", "set_pyin_pitch($self, on)\n--\n\n", &Vocoder::pyin_pitch,
     &Vocoder::set_pyin_pitch},
    {"quantizer_search", "set_quantizer_search", "set_quantizer_search($self, on)\n--\n\n",
     &Vocoder::quantizer_search, &Vocoder::set_quantizer_search},
}};

// The body of a setter method of one argument: unpacks it (required unless `required` is 0)
// and hands it to set(channel, value).
template <class Set>
PyObject* call_setter(PyObject* self, PyObject* args, PyObject* kwargs, const char* method, const char* argument,
                      std::size_t required, Set&& set) {
    return guarded([&]() -> PyObject* {
        Vocoder& channel = channel_of(self);
        PyObject* value = nullptr;
        unpack_arguments(args, kwargs, method, {argument}, required, &value);
        set(channel, value);
        Py_RETURN_NONE;
    });
}

template <std::size_t I>
PyObject* set_flag(PyObject* self, PyObject* args, PyObject* kwargs) {
    return call_setter(self, args, kwargs, FLAGS[I].setter, "on", 1,
                       [](Vocoder& channel, PyObject* on) { (channel.*FLAGS[I].set)(bool_argument(on, "on")); });
}

// --- the other settings ------------------------------------------------------------------------

PyObject* set_amp_ema_alpha(PyObject* self, PyObject* args, PyObject* kwargs) {
    return call_setter(self, args, kwargs, "set_amp_ema_alpha", "alpha", 1, [](Vocoder& channel, PyObject* alpha) {
        channel.set_amp_ema_alpha(float_argument(alpha, "alpha"));
    });
}

PyObject* set_repeat_reset_after(PyObject* self, PyObject* args, PyObject* kwargs) {
    return call_setter(self, args, kwargs, "set_repeat_reset_after", "n", 0, [](Vocoder& channel, PyObject* n) {
        channel.set_repeat_reset_after(optional_u32_argument(n, "n"));
    });
}

PyObject* set_ambe_plus2_synth(PyObject* self, PyObject* args, PyObject* kwargs) {
    return call_setter(self, args, kwargs, "set_ambe_plus2_synth", "gen", 1, [](Vocoder& channel, PyObject* gen) {
        channel.set_ambe_plus2_synth(static_cast<AmbePlus2Synth>(member_value<AmbePlus2SynthClass>(gen, "gen")));
    });
}

PyObject* set_formant_weighting(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* { return set_channel_formant_weighting(channel_of(self), args, kwargs); });
}

PyObject* set_enhancement(PyObject* self, PyObject* args, PyObject* kwargs) {
    return call_setter(self, args, kwargs, "set_enhancement", "mode", 1, [](Vocoder& channel, PyObject* mode) {
        channel.set_enhancement(core_enhancement(member_value<EnhancementModeClass>(mode, "mode")));
    });
}

// --- method table ------------------------------------------------------------------------------

template <std::size_t... I>
void add_flag_setters(MethodTable& table, std::index_sequence<I...>) {
    (table.add(FLAGS[I].setter, &set_flag<I>, FLAGS[I].setter_doc), ...);
}

PyMethodDef* method_table() {
    static MethodTable table = [] {
        MethodTable t;
        t.add("encode_pcm", &encode_pcm,
              "encode_pcm($self, pcm)\n--\n\n"
              "Encode one PCM frame to its on-wire bytes. `pcm` must be a\n"
              "1-D `np.int16` array of length [`frame_samples`].")
            .add("decode_bits", &decode_bits,
                 "decode_bits($self, bits)\n--\n\n"
                 "Decode one on-wire frame back to PCM. `bits` must be exactly\n"
                 "[`fec_frame_bytes`] bytes long.")
            .add("decode_soft", &decode_soft, DECODE_SOFT_DOC)
            .add("decode_lost", &decode_lost, DECODE_LOST_DOC)
            .add("reset", &reset_method<Vocoder>,
                 "reset($self)\n--\n\n"
                 "Clear cross-frame state. Call between independent streams /\n"
                 "callers sharing one vocoder instance.")
            .add("last_output_kind", &last_output_kind,
                 "last_output_kind($self)\n--\n\n"
                 "`\"voice\"` / `\"silence\"` / `\"tone\"` for the last encoded frame,\n"
                 "or `None` if no encode has run since the last [`reset`].")
            .add("last_tone_detection", &last_tone_detection,
                 "last_tone_detection($self)\n--\n\n"
                 "`(id, amplitude)` for the last frame's Annex T tone detection,\n"
                 "or `None` if tone detection is disabled or no tone was found.")
            .add("last_decode_report", &last_decode_report,
                 "last_decode_report($self)\n--\n\n"
                 "What the last decoded frame was, as a new dict, or `None` if no\n"
                 "decode has run since the last [`reset`]. Keys: `kind` (`\"voice\"`,\n"
                 "`\"silence\"`, `\"tone\"`, `\"erasure\"`, `\"invalid\"` or `\"lost\"`;\n"
                 "erasure and invalid frames are played as silence), `disposition` (`\"normal\"`,\n"
                 "`\"repeat\"` or `\"mute\"`: concealment's verdict on the last\n"
                 "synthesized frame, `None` before the first), `errors` (a tuple of\n"
                 "the bit errors corrected in each code vector: 8 at\n"
                 "`IMBE_7200X4400`, 4 at `AMBEPLUS2_3600X2450`, none without FEC;\n"
                 "255 in the first at the half rate means uncorrectable), `e0` and\n"
                 "`total` (the counts concealment used) and `tone` (`(id, amplitude)`\n"
                 "for tone frames and the silence tone, else `None`).");
        add_flag_setters(t, std::make_index_sequence<FLAGS.size()>{});
        t.add("set_amp_ema_alpha", &set_amp_ema_alpha, "set_amp_ema_alpha($self, alpha)\n--\n\n")
            .add("set_repeat_reset_after", &set_repeat_reset_after, "set_repeat_reset_after($self, n=None)\n--\n\n")
            .add("set_lost_frame_repeats", &set_lost_frame_repeats, "set_lost_frame_repeats($self, n)\n--\n\n")
            .add("set_ambe_plus2_synth", &set_ambe_plus2_synth, "set_ambe_plus2_synth($self, gen)\n--\n\n")
            .add("set_enhancement", &set_enhancement, "set_enhancement($self, mode)\n--\n\n")
            .add("set_formant_weighting", &set_formant_weighting, "set_formant_weighting($self, weighting)\n--\n\n");
        output_settings::add_methods<Vocoder>(t);
        return t;
    }();
    return table.data();
}

// Vocoder(rate): a slot initialiser rather than a bound __init__, so that the class keeps the
// plain "(rate)" text signature of its docstring.
int init_vocoder(PyObject* self, PyObject* args, PyObject* kwargs) {
    return init_bound<Vocoder>(self, args, kwargs, {"rate"}, [](PyObject** argv) {
        return std::make_unique<Vocoder>(static_cast<Rate>(member_value<RateClass>(argv[0], "rate")));
    });
}

}  // namespace

void register_vocoder(nb::module_& m) {
    auto cls = bound_class<Vocoder>(m, VOCODER_DOC, &init_vocoder, method_table());
    add_rate_and_repr(cls, "The rate this vocoder was constructed for.");
    cls.def_prop_ro(
        "frame_samples",
        [](PyVocoder& self) {
            (void)channel_of(self);
            return FRAME_SAMPLES;
        },
        "PCM samples in one frame (`160` for all current rates).");
    cls.def_prop_ro(
        "fec_frame_bytes", [](PyVocoder& self) { return wire_bytes(channel_of(self).rate()); },
        "On-wire byte count for one frame at this rate.");

    for (const Flag& flag : FLAGS)
        cls.def_prop_ro(flag.name, [get = flag.get](PyVocoder& self) { return (channel_of(self).*get)(); });
    cls.def_prop_ro("amp_ema_alpha", [](PyVocoder& self) { return channel_of(self).amp_ema_alpha(); });
    cls.def_prop_ro("repeat_reset_after", [](PyVocoder& self) { return channel_of(self).repeat_reset_after(); });
    cls.def_prop_ro(
        "lost_frame_repeats", [](PyVocoder& self) { return channel_of(self).lost_frame_repeats(); },
        "Lost frames repeated before [`decode_lost`] mutes (default 3, kept by reset).");
    cls.def_prop_ro(
        "ambe_plus2_synth",
        [](PyVocoder& self) {
            return member_object<AmbePlus2SynthClass>(static_cast<std::uint8_t>(channel_of(self).ambe_plus2_synth()));
        },
        nb::for_getter(nb::sig("def ambe_plus2_synth(self, /) -> AmbePlus2Synth")));
    cls.def_prop_ro(
        "enhancement",
        [](PyVocoder& self) {
            return member_object<EnhancementModeClass>(enhancement_member(channel_of(self).enhancement()));
        },
        nb::for_getter(nb::sig("def enhancement(self, /) -> EnhancementMode")));
    cls.def_prop_ro(
        "formant_weighting", [](PyVocoder& self) { return channel_formant_weighting(channel_of(self)); },
        nb::for_getter(nb::sig("def formant_weighting(self, /) -> FormantWeighting")));
    output_settings::add_properties(cls);
}

PyObject* set_channel_formant_weighting(Vocoder& channel, PyObject* args, PyObject* kwargs) {
    PyObject* weighting = nullptr;
    unpack_arguments(args, kwargs, "set_formant_weighting", {"weighting"}, 1, &weighting);
    channel.set_formant_weighting(
        static_cast<codecs::mbe_baseline::FormantWeighting>(member_value<FormantWeightingClass>(weighting, "weighting")));
    Py_RETURN_NONE;
}

nb::object channel_formant_weighting(const Vocoder& channel) {
    return member_object<FormantWeightingClass>(static_cast<std::uint8_t>(channel.formant_weighting()));
}

}  // namespace ostrel_mbe::python
