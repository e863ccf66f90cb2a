#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Digests of everything the codec produces from the bundled speech clip, for changes that must
not move a single bit (refactoring, tidying): record them before the change, compare after.

    python tools/bit_exact_check.py --record before.json   # with the module of the old tree
    python tools/bit_exact_check.py --compare before.json  # with the module of the new tree

It covers, at all four rates: encoding under each encoder setting that changes the frames
(default, tone detection on a clip with tones appended, PYIN, silence dispatch, no spectral
subtraction, amplitude smoothing); decoding the clean frames and the frames with bit errors
(scattered errors, bursts, random garbage) under each decoder setting that changes the samples
(post-filter x formant weighting, the half-rate synthesis variant, the chip-compatible
concealment settings, repeat reset, both noise generators and a noise start), with the decode
report of every frame; the streaming classes; and transcoding in the six directions with both
envelope mixes (the envelope mix through the C library that OSTREL_C_LIBRARY names, since the
Python class does not set it).  The module is imported as _ostrel_mbe from wherever Python
finds it.
"""
from __future__ import annotations

import argparse
import ctypes
import hashlib
import json
import os
import sys

import numpy as np

import _ostrel_mbe as m
from ostrel_mbe import wav
from ostrel_mbe.__main__ import bundled_speech

RATES = {
    "imbe7200": m.Rate.IMBE_7200X4400,
    "imbe4400": m.Rate.IMBE_4400X4400,
    "ambe3600": m.Rate.AMBEPLUS2_3600X2450,
    "ambe2450": m.Rate.AMBEPLUS2_2450X2450,
}
HALF_RATES = {"ambe3600", "ambe2450"}
TRANSCODES = [
    ("imbe7200", "imbe4400"),
    ("imbe4400", "imbe7200"),
    ("ambe3600", "ambe2450"),
    ("ambe2450", "ambe3600"),
    ("imbe7200", "ambe3600"),
    ("ambe3600", "imbe7200"),
]


def digest(chunks) -> str:
    h = hashlib.sha256()
    for c in chunks:
        h.update(c if isinstance(c, bytes) else repr(c).encode())
    return h.hexdigest()


def tones(count: int) -> np.ndarray:
    """Frames of DTMF pairs and single tones, so that tone detection and tone frames run."""
    n = np.arange(160 * count)
    out = []
    for i, (f1, f2) in enumerate([(697, 1209), (941, 1477), (1000, None), (852, 1336)]):
        t = n[: 160 * 6] / 8000.0
        x = np.sin(2 * np.pi * f1 * t) + (np.sin(2 * np.pi * f2 * t) if f2 else 0)
        out.append((6000 / (2 if f2 else 1) * x).astype(np.int16))
        out.append(np.zeros(160 * 2, dtype=np.int16))
    return np.concatenate(out)[: 160 * count].reshape(-1, 160)


def with_errors(frames: list[bytes], seed: int) -> list[bytes]:
    """Scattered errors in every fifth frame, a long burst of heavy errors, and garbage frames."""
    rng = np.random.default_rng(seed)
    out = [bytearray(f) for f in frames]
    bits = len(out[0]) * 8
    for i in range(2, len(out), 5):
        for b in rng.choice(bits, size=int(rng.integers(1, 8)), replace=False):
            out[i][b // 8] ^= 0x80 >> (b % 8)
    for i in range(100, min(160, len(out))):  # long enough for concealment to mute
        for b in rng.choice(bits, size=bits // 4, replace=False):
            out[i][b // 8] ^= 0x80 >> (b % 8)
    for i in range(200, min(206, len(out))):
        out[i] = bytearray(rng.integers(0, 256, len(out[i]), dtype=np.uint8).tobytes())
    return [bytes(f) for f in out]


ENCODER_SETTINGS = {
    "default": [],
    "tone_detection": [("set_tone_detection", True)],
    "pyin": [("set_pyin_pitch", True)],
    "silence_dispatch": [
        ("set_silence_dispatch", True),
        ("set_pitch_silence_override", True),
        ("set_default_pitch_on_silence", True),
    ],
    "no_spectral_subtraction": [("set_spectral_subtraction", False)],
    "amp_ema": [("set_amp_ema_alpha", 0.6)],
}


def decoder_settings(half: bool):
    out = {}
    for enh in ("NONE", "CLASSICAL"):
        for fw in ("COMPAT", "STANDARD"):
            for synth in ("AMBE_PLUS", "BASELINE") if half else ("AMBE_PLUS",):
                out[f"{enh}/{fw}/{synth}"] = [
                    ("set_enhancement", getattr(m.EnhancementMode, enh)),
                    ("set_formant_weighting", getattr(m.FormantWeighting, fw)),
                    ("set_ambe_plus2_synth", getattr(m.AmbePlus2Synth, synth)),
                ]
    out["chip_compat"] = [("set_chip_compat", True)]
    out["chip_compat_clamp"] = [("set_chip_compat_spectral_clamp", True)]
    out["repeat_reset_after_2"] = [("set_repeat_reset_after", 2)]
    return out


def configure(channel, settings):
    for name, value in settings:
        getattr(channel, name)(value)


def decode_all(rate, frames, settings, env=None, reset=False):
    """Decodes with a fresh channel (constructed, and reset when asked, under `env`); returns the
    samples and the reports."""
    saved = {k: os.environ.get(k) for k in ("OSTREL_LCG", "OSTREL_LCG_INIT")}
    for k in saved:
        os.environ.pop(k, None)
    os.environ.update(env or {})
    try:
        dec = m.Vocoder(rate)
        if reset:
            dec.reset()
        configure(dec, settings)
        pcm, reports = [], []
        for f in frames:
            pcm.append(dec.decode_bits(f).tobytes())
            reports.append(dec.last_decode_report())
        return pcm, reports
    finally:
        for k, v in saved.items():
            if v is None:
                os.environ.pop(k, None)
            else:
                os.environ[k] = v


def run() -> dict[str, str]:
    speech = wav.split_frames(wav.load_pcm(bundled_speech()))
    clip = np.concatenate([speech, tones(40)])
    out: dict[str, str] = {}
    encoded: dict[str, list[bytes]] = {}
    for name, rate in RATES.items():
        for label, settings in ENCODER_SETTINGS.items():
            enc = m.Vocoder(rate)
            configure(enc, settings)
            frames, kinds = [], []
            for f in clip:
                frames.append(enc.encode_pcm(f))
                kinds.append((enc.last_output_kind(), enc.last_tone_detection()))
            out[f"encode/{name}/{label}"] = digest(frames + kinds)
            if label == "default":
                encoded[name] = frames[: len(speech)]
            elif label == "tone_detection":  # the decoders' input: speech, then tone frames
                encoded[name] += frames[len(speech) :]

        live = m.LiveEncoder(rate)
        chunks = []
        for start in range(0, clip.size, 333):
            chunks += live.push(clip.reshape(-1)[start : start + 333])
        last = live.flush()
        out[f"live_encode/{name}"] = digest(chunks + [last])

    for name, rate in RATES.items():
        clean = encoded[name]
        noisy = with_errors(clean, seed=7)
        for label, settings in decoder_settings(name in HALF_RATES).items():
            for kind, frames in (("clean", clean), ("errors", noisy)):
                pcm, reports = decode_all(rate, frames, settings)
                out[f"decode/{name}/{kind}/{label}"] = digest(pcm + reports)
        for env_label, env, reset in (
            ("lcg_spec_reset", {"OSTREL_LCG": "spec"}, True),
            ("lcg_default_reset", {}, True),
            ("lcg_init_burn_64", {"OSTREL_LCG_INIT": "burn_64"}, False),
            ("lcg_init_zero_reset", {"OSTREL_LCG_INIT": "zero", "OSTREL_LCG": "spec"}, True),
        ):
            pcm, reports = decode_all(rate, noisy, [], env, reset)
            out[f"decode/{name}/errors/{env_label}"] = digest(pcm + reports)

        live = m.LiveDecoder(rate)
        blob = b"".join(noisy)
        blocks = []
        for start in range(0, len(blob), 29):
            blocks += [b.tobytes() for b in live.push(blob[start : start + 29])]
        out[f"live_decode/{name}"] = digest(blocks)

    library = c_library()
    for src, dst in TRANSCODES:
        for kind, frames in (("clean", encoded[src]), ("errors", with_errors(encoded[src], seed=3))):
            t = m.Transcoder(RATES[src], RATES[dst])
            results = []
            for f in frames:
                try:
                    results.append(t.transcode(f))
                except ValueError as e:
                    results.append(("ValueError", str(e)))
            out[f"transcode/{src}->{dst}/{kind}"] = digest(results)
            if library is not None:
                out[f"transcode_c/{src}->{dst}/{kind}/mix_previous"] = digest(
                    c_transcode(library, int(RATES[src]), int(RATES[dst]), frames, mix=1))
    return out


def c_library():
    """The C library named by OSTREL_C_LIBRARY (for the transcoder's envelope mix, which the
    Python class does not set), or None."""
    path = os.environ.get("OSTREL_C_LIBRARY")
    return ctypes.CDLL(path) if path else None


def c_transcode(library, src: int, dst: int, frames: list[bytes], mix: int) -> list:
    error = ctypes.c_int(0)
    library.ostrel_mbe_transcoder_new.restype = ctypes.c_void_p
    handle = ctypes.c_void_p(library.ostrel_mbe_transcoder_new(src, dst, ctypes.byref(error)))
    assert handle and library.ostrel_mbe_transcoder_set_envelope_mix(handle, mix) == 0
    results = []
    buffer = (ctypes.c_uint8 * 18)()
    for f in frames:
        n = library.ostrel_mbe_transcoder_transcode(handle, f, ctypes.c_size_t(len(f)), buffer, ctypes.c_size_t(18))
        results.append(bytes(buffer[:n]) if n >= 0 else ("error", n))
    library.ostrel_mbe_transcoder_free(handle)
    return results
    return out


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    group = parser.add_mutually_exclusive_group(required=True)
    group.add_argument("--record", metavar="JSON", help="write the digests to this file")
    group.add_argument("--compare", metavar="JSON", help="compare with the digests in this file")
    args = parser.parse_args()
    digests = run()
    if args.record:
        with open(args.record, "w") as f:
            json.dump(digests, f, indent=1, sort_keys=True)
        print(f"{len(digests)} digests written to {args.record}; all: {digest(sorted(digests.items()))[:16]}")
        return 0
    with open(args.compare) as f:
        before = json.load(f)
    changed = sorted(k for k in before.keys() | digests.keys() if before.get(k) != digests.get(k))
    for k in changed:
        print(f"differs: {k}")
    print(f"{len(digests)} digests, {len(changed)} differ; all: {digest(sorted(digests.items()))[:16]}")
    return 1 if changed else 0


if __name__ == "__main__":
    sys.exit(main())
