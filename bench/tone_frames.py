#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Half-rate tone frames, read from u3 alone (the library default) and by every copy of the index
(`set_tone_copies(True)`), at 3600 bit/s:

- false tones: random 9-byte frames that the decoder reports as a tone frame, per million;
- true tones kept: tone frames (single tones and DTMF digits found by the encoder's tone
  detection) sent through a channel with independent bit errors at 1, 2 and 5 %, and the share
  that the decoder still reports as a tone frame with the sent index (and, with copies on, the
  share it conceals instead).

    python bench/tone_frames.py [--garbage 1000000] [--tones 20000] [--seed 1] [--json out.json]
"""
from __future__ import annotations

import argparse
import json
import sys

import numpy as np

import _ostrel_mbe as m

RATE = m.Rate.AMBEPLUS2_3600X2450
FRAME = 160
BERS = (0.01, 0.02, 0.05)


def decoder(copies: bool) -> m.Vocoder:
    v = m.Vocoder(RATE)
    v.set_tone_copies(copies)
    return v


def tone_frames() -> list[tuple[bytes, int]]:
    """One tone frame per distinct index the encoder's tone detection finds in sines and DTMF pairs."""
    t = np.arange(FRAME) / 8000.0
    signals = [np.sin(2 * np.pi * f * t) for f in np.arange(150.0, 3800.0, 31.25)]
    low, high = (697, 770, 852, 941), (1209, 1336, 1477, 1633)
    signals += [0.5 * (np.sin(2 * np.pi * a * t) + np.sin(2 * np.pi * b * t)) for a in low for b in high]
    found: dict[int, bytes] = {}
    for s in signals:
        pcm = (s * 8000).astype(np.int16)
        enc = m.Vocoder(RATE)
        enc.set_tone_detection(True)
        bits = enc.encode_pcm(pcm)
        if enc.last_output_kind() == "tone":
            found.setdefault(enc.last_tone_detection()[0], bits)
    return [(bits, index) for index, bits in sorted(found.items())]


def flip(bits: bytes, ber: float, rng: np.random.Generator) -> bytes:
    a = np.unpackbits(np.frombuffer(bits, np.uint8))
    a ^= (rng.random(a.size) < ber).astype(np.uint8)
    return np.packbits(a).tobytes()


def false_tones(count: int, copies: bool, rng: np.random.Generator) -> int:
    v = decoder(copies)
    frames = rng.integers(0, 256, size=(count, 9), dtype=np.uint8)
    tones = 0
    for row in frames:
        v.decode_bits(row.tobytes())
        if v.last_decode_report()["kind"] == "tone":
            tones += 1
    return tones


def true_tones(frames: list[tuple[bytes, int]], count: int, ber: float, copies: bool,
               rng: np.random.Generator) -> tuple[float, float]:
    v = decoder(copies)
    kept = concealed = 0
    for k in range(count):
        bits, index = frames[k % len(frames)]
        v.decode_bits(flip(bits, ber, rng))
        report = v.last_decode_report()
        if report["kind"] == "tone" and report["tone"][0] == index:
            kept += 1
        elif report["kind"] == "invalid":
            concealed += 1
    return kept / count, concealed / count


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--garbage", type=int, default=1_000_000, help="random frames (default 1000000)")
    parser.add_argument("--tones", type=int, default=20_000, help="tone frames per bit error rate (default 20000)")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--json", help="write the results here")
    args = parser.parse_args()

    frames = tone_frames()
    print(f"{len(frames)} distinct tone indices from the encoder's tone detection", file=sys.stderr)
    results = {}
    for copies, name in ((False, "u3 only (library default)"), (True, "all copies")):
        rng = np.random.default_rng(args.seed)
        false = false_tones(args.garbage, copies, rng)
        row = {"false_per_million": false * 1e6 / args.garbage}
        for ber in BERS:
            kept, concealed = true_tones(frames, args.tones, ber, copies, np.random.default_rng(args.seed))
            row[f"kept_{ber:.0%}"] = kept
            row[f"concealed_{ber:.0%}"] = concealed
        results[name] = row
        print(f"{name}: {row}", file=sys.stderr)

    print("| reading | false tones per million random frames | " +
          " | ".join(f"true tones kept at {b:.0%} BER" for b in BERS) + " |")
    print("|---|---:|" + "---:|" * len(BERS))
    for name, row in results.items():
        print(f"| {name} | {row['false_per_million']:.1f} | " +
              " | ".join(f"{row[f'kept_{b:.0%}']:.1%}" for b in BERS) + " |")
    if args.json:
        with open(args.json, "w") as f:
            json.dump(results, f, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main())
