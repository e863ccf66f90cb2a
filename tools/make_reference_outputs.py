#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Writes tests/python/data/reference_outputs.npz: what the codec produced for the bundled
speech clip (its first 200 frames, 4 s) at every rate when the file was made, for the regression test that keeps later
rewrites of the signal processing to rounding-level changes.

Per rate (keys prefixed with the rate's short name):
  <rate>_frames   the wire frames of encoding the frames with a fresh Vocoder (uint8 rows)
  <rate>_decode_in  those frames with a few bits flipped in every seventh frame (so that the
                  concealment paths run too), the input of the decode reference
  <rate>_pcm      decoding <rate>_decode_in with a fresh Vocoder (int16 rows of 160)

Run with the module built from the commit whose behaviour is to be pinned:
    python tools/make_reference_outputs.py
"""
from __future__ import annotations

from pathlib import Path

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
FRAMES = 200
OUT = Path(__file__).resolve().parent.parent / "tests" / "python" / "data" / "reference_outputs.npz"


def with_bit_errors(frames: np.ndarray, seed: int = 11) -> np.ndarray:
    """Every seventh frame gets 1 to 6 flipped bits at random positions."""
    rng = np.random.default_rng(seed)
    out = frames.copy()
    bits = out.shape[1] * 8
    for i in range(3, len(out), 7):
        for b in rng.choice(bits, size=int(rng.integers(1, 7)), replace=False):
            out[i, b // 8] ^= np.uint8(0x80 >> (b % 8))
    return out


def main() -> None:
    pcm = wav.split_frames(wav.load_pcm(bundled_speech()))[:FRAMES]
    data = {}
    for name, rate in RATES.items():
        enc = m.Vocoder(rate)
        frames = np.array([np.frombuffer(enc.encode_pcm(f), dtype=np.uint8) for f in pcm])
        decode_in = with_bit_errors(frames)
        dec = m.Vocoder(rate)
        decoded = np.array([dec.decode_bits(f.tobytes()) for f in decode_in], dtype=np.int16)
        data[f"{name}_frames"] = frames
        data[f"{name}_decode_in"] = decode_in
        data[f"{name}_pcm"] = decoded
    OUT.parent.mkdir(parents=True, exist_ok=True)
    np.savez_compressed(OUT, **data)
    print(f"wrote {OUT} ({OUT.stat().st_size} bytes, {len(pcm)} frames per rate)")


if __name__ == "__main__":
    main()
