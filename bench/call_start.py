#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""The start of a call: garbage ahead of real speech, as a receiver hands it over before its sync
settles, decoded by a fresh channel with the library defaults and with `set_cautious_start(True)`.

Ahead of the bundled speech clip (encoded at the rate, then hit by independent bit errors at
0, 2 and 5 %) go 50 frames of either random bytes or speech frames with 25 % of their bits
flipped.  For each case, over several seeds (medians reported):

- burst: the garbage frames played (repeated or played as received, not muted by concealment)
  and the level of the garbage part of the output (dBFS RMS over its 50 frames);
- lost: the speech frames at the start that concealment did not play (muted or repeated)
  before the first one it played.

    python bench/call_start.py [--seeds 20] [--json out.json]
"""
from __future__ import annotations

import argparse
import json
import statistics
import sys
from pathlib import Path

import numpy as np

import _ostrel_mbe as m
from ostrel_mbe import wav

CLIP = Path(__file__).resolve().parent.parent / "python" / "ostrel_mbe" / "data" / "speech_8k.wav"
RATES = {"imbe7200": m.Rate.IMBE_7200X4400, "ambe3600": m.Rate.AMBEPLUS2_3600X2450}
LEAD = 50
SPEECH = 100  # frames of the clip after the garbage: 2 s


def encode(rate: m.Rate, pcm: np.ndarray) -> list[bytes]:
    v = m.Vocoder(rate)
    return [v.encode_pcm(pcm[i:i + 160]) for i in range(0, len(pcm) - 159, 160)]


def flip(bits: bytes, ber: float, rng: np.random.Generator) -> bytes:
    a = np.unpackbits(np.frombuffer(bits, np.uint8))
    a ^= (rng.random(a.size) < ber).astype(np.uint8)
    return np.packbits(a).tobytes()


def dbfs(x: np.ndarray) -> float:
    return 10 * np.log10(max(np.mean((x.astype(np.float64) / 32768) ** 2), 1e-12))


def run(rate: m.Rate, frames: list[bytes], lead: int, cautious: bool) -> dict:
    v = m.Vocoder(rate)
    v.set_formant_weighting(m.FormantWeighting.STANDARD)
    v.set_cautious_start(cautious)
    out, dispositions = [], []
    for f in frames:
        out.append(v.decode_bits(f))
        dispositions.append(v.last_decode_report()["disposition"])
    pcm = np.concatenate(out)
    played = sum(d != "mute" for d in dispositions[:lead])
    speech = dispositions[lead:]
    lost = next((i for i, d in enumerate(speech) if d == "normal"), len(speech))
    return {"burst": played, "burst_dbfs": dbfs(pcm[:lead * 160]) if lead else None, "lost": lost}


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seeds", type=int, default=20)
    parser.add_argument("--json", help="write the results here")
    args = parser.parse_args()
    clip = wav.load_pcm(CLIP)
    results = []
    for rate_name, rate in RATES.items():
        clean = encode(rate, clip)
        speech, donor = clean[:SPEECH], clean[SPEECH:]
        size = len(clean[0])
        for lead_kind in ("none", "random", "flipped"):
            for ber in (0.0, 0.02, 0.05):
                for cautious in (False, True):
                    rows = []
                    for seed in range(args.seeds):
                        rng = np.random.default_rng(seed)
                        if lead_kind == "random":
                            lead = [rng.integers(0, 256, size, dtype=np.uint8).tobytes() for _ in range(LEAD)]
                        elif lead_kind == "flipped":
                            lead = [flip(donor[(seed * 7 + i) % len(donor)], 0.25, rng) for i in range(LEAD)]
                        else:
                            lead = []
                        frames = lead + [flip(f, ber, rng) for f in speech]
                        rows.append(run(rate, frames, len(lead), cautious))
                    row = {
                        "rate": rate_name, "lead": lead_kind, "ber": ber, "cautious": cautious,
                        "burst": statistics.median(r["burst"] for r in rows),
                        "burst_dbfs": (statistics.median(r["burst_dbfs"] for r in rows) if lead_kind != "none" else None),
                        "lost": statistics.median(r["lost"] for r in rows),
                        "lost_max": max(r["lost"] for r in rows),
                    }
                    results.append(row)
                    print(row, file=sys.stderr)
    print("| rate | ahead of speech | BER | cautious start | garbage frames played | garbage level (dBFS) | "
          "speech frames lost (median / max) |")
    print("|---|---|---:|---|---:|---:|---:|")
    for r in results:
        level = "" if r["burst_dbfs"] is None else f"{r['burst_dbfs']:.1f}"
        burst = "" if r["lead"] == "none" else f"{r['burst']:g}"
        print(f"| {r['rate']} | {r['lead']} | {r['ber']:.0%} | {'on' if r['cautious'] else 'off'} | {burst} | "
              f"{level} | {r['lost']:g} / {r['lost_max']} |")
    if args.json:
        with open(args.json, "w") as f:
            json.dump(results, f, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main())
