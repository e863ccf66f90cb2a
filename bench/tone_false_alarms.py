#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Tone frames the half-rate encoder sends for speech (false alarms) and for DTMF digits (hits),
with the standard per-frame tone detector and with the strict one (set_strict_tone_detection:
a tone must dominate the spectrum and persist over three frames).

Speech: the bundled clip and the speech clips of bench/quality.py (codec2-examples and
asterisk-core-sounds-en-wav, whichever are installed).  Digits: the 16 DTMF digits, 100 ms each
at -10 dBFS per tone (a common dialler level) followed by 50 ms of silence, each alone and all
of them mixed under the bundled speech at -20 dB.

    python bench/tone_false_alarms.py [--clips N]
"""
from __future__ import annotations

import argparse
import importlib.util
import sys
from pathlib import Path

import numpy as np

import _ostrel_mbe as m
from ostrel_mbe import wav
from ostrel_mbe.__main__ import bundled_speech

RATE = m.Rate.AMBEPLUS2_3600X2450
ROWS, COLUMNS = (697, 770, 852, 941), (1209, 1336, 1477, 1633)


def load_quality():
    path = Path(__file__).with_name("quality.py")
    spec = importlib.util.spec_from_file_location("quality", path)
    module = importlib.util.module_from_spec(spec)
    sys.modules["quality"] = module
    spec.loader.exec_module(module)
    return module


def tone_frames(pcm: np.ndarray, strict: bool) -> list[bool]:
    enc = m.Vocoder(RATE)
    enc.set_tone_detection(True)
    enc.set_strict_tone_detection(strict)
    frames = wav.split_frames(pcm.astype(np.int16))
    out = []
    for frame in frames:
        enc.encode_pcm(np.ascontiguousarray(frame))
        out.append(enc.last_output_kind() == "tone")
    return out


def digit(low: int, high: int) -> np.ndarray:
    t = np.arange(800) / 8000.0
    amplitude = 32767 * 10 ** (-10 / 20)
    tone = amplitude * (np.sin(2 * np.pi * low * t) + np.sin(2 * np.pi * high * t))
    return np.concatenate([tone, np.zeros(400)])


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--clips", type=int, default=None, help="speech clips of quality.py to use (default all)")
    args = parser.parse_args()
    clips = [("bundled", wav.load_pcm(bundled_speech()))]
    clips += [(c.name, c.pcm) for c in load_quality().choose_clips(args.clips)]

    print("| speech | frames | tone frames, standard | tone frames, strict |")
    print("|---|---:|---:|---:|")
    totals = np.zeros(3, dtype=int)
    for name, pcm in clips:
        standard, strict = tone_frames(pcm, False), tone_frames(pcm, True)
        row = np.array([len(standard), sum(standard), sum(strict)])
        totals += row
        if name == "bundled" or len(clips) <= 12:
            print(f"| {name} | {row[0]} | {row[1]} | {row[2]} |")
    print(f"| all {len(clips)} clips | {totals[0]} | {totals[1]} ({100 * totals[1] / totals[0]:.1f}%) "
          f"| {totals[2]} ({100 * totals[2] / totals[0]:.1f}%) |")

    digits = [digit(r, c) for r in ROWS for c in COLUMNS]
    dial = np.concatenate(digits)
    speech = wav.load_pcm(bundled_speech()).astype(float)
    speech = np.resize(speech, len(dial)) * 10 ** (-20 / 20) * 3
    for label, signal in (("digits alone", dial), ("digits over speech", dial + speech)):
        pcm = np.clip(np.round(signal), -32768, 32767).astype(np.int16)
        per_digit = len(digits[0]) // 160
        for strict in (False, True):
            found = tone_frames(pcm, strict)
            hits = sum(any(found[i * per_digit:(i + 1) * per_digit]) for i in range(len(digits)))
            print(f"{label}, {'strict' if strict else 'standard'}: {hits}/16 digits sent as tone frames, "
                  f"{sum(found)} tone frames in {len(found)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
