#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Decoded speech levels across talkers and input levels, without and with level control.

Talkers: the bundled clip and three synthetic voices of espeak-ng (Debian package espeak-ng),
each scaled to an active level of -35, -26, -16 and -6 dBFS (the loud ones clip at the input, as
a hot microphone does), encoded at 7200 bit/s and decoded as the command line did before level
control (classical post-filter, standard formant weighting) and with `set_agc(True)` on top.
Reported per case: the active level of the output after its first second, its peak, and the
samples at full scale.  The active level is the RMS over the 20 ms frames within 25 dB of the
loudest frame.  Draws docs/img/levels.png with --plot (matplotlib, installed when missing).

    python bench/levels.py [--plot docs/img/levels.png] [--json out.json]
"""
from __future__ import annotations

import argparse
import importlib
import json
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

import numpy as np

import _ostrel_mbe as m
from ostrel_mbe import wav

REPO = Path(__file__).resolve().parent.parent
CLIP = REPO / "python" / "ostrel_mbe" / "data" / "speech_8k.wav"
LEVELS = (-35.0, -26.0, -16.0, -6.0)
TARGET = -20.0
TEXT = ("The quick brown fox jumps over the lazy dog. Units two and five, respond to the north gate. "
        "Copy that, we are on our way, estimated arrival in four minutes.")
VOICES = {"espeak en-us male": ["-v", "en-us", "-p", "40"],
          "espeak en female": ["-v", "en+f3", "-p", "60"],
          "espeak en-gb slow": ["-v", "en-gb+m3", "-s", "130"]}
RATE = m.Rate.IMBE_7200X4400


def frame_energies(x: np.ndarray) -> np.ndarray:
    n = len(x) // 160
    f = x[:n * 160].astype(np.float64).reshape(n, 160) / 32768
    return np.mean(f * f, axis=1)


def active_dbfs(x: np.ndarray) -> float:
    e = frame_energies(x)
    active = e[e >= e.max() * 10 ** (-2.5)]
    return 10 * np.log10(max(np.mean(active), 1e-12))


def talkers() -> dict[str, np.ndarray]:
    out = {"bundled clip": wav.load_pcm(CLIP)}
    if shutil.which("espeak-ng") is None:
        print("espeak-ng is missing (apt-get install espeak-ng): bundled clip only", file=sys.stderr)
        return out
    with tempfile.TemporaryDirectory() as tmp:
        for name, voice in VOICES.items():
            path = Path(tmp) / "voice.wav"
            subprocess.run(["espeak-ng", *voice, "-w", str(path), TEXT], check=True)
            out[name] = wav.load_pcm(path)
    return out


def at_level(x: np.ndarray, level: float) -> np.ndarray:
    scaled = x.astype(np.float64) * 10 ** ((level - active_dbfs(x)) / 20)
    return np.clip(np.round(scaled), -32768, 32767).astype(np.int16)


def code(pcm: np.ndarray, agc: bool) -> np.ndarray:
    enc, dec = m.Vocoder(RATE), m.Vocoder(RATE)
    dec.set_formant_weighting(m.FormantWeighting.STANDARD)
    dec.set_agc(agc)
    return np.concatenate([dec.decode_bits(enc.encode_pcm(pcm[i:i + 160])) for i in range(0, len(pcm) - 159, 160)])


def plot(results: list[dict], path: str) -> None:
    try:
        importlib.import_module("matplotlib")
    except ImportError:
        subprocess.check_call([sys.executable, "-m", "pip", "install", "-q", "matplotlib"])
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig, ax = plt.subplots(figsize=(7.5, 4.2), dpi=110)
    names = list(dict.fromkeys(r["talker"] for r in results))
    for k, name in enumerate(names):
        rows = [r for r in results if r["talker"] == name]
        x = [r["input_dbfs"] + (k - 1.5) * 0.5 for r in rows]
        ax.plot(x, [r["before_dbfs"] for r in rows], "o--", color=f"C{k}", alpha=0.55)
        ax.plot(x, [r["after_dbfs"] for r in rows], "s-", color=f"C{k}", label=name)
        for xi, r in zip(x, rows):
            if r["before_clipped"]:
                ax.annotate(f"{r['before_clipped']} clipped", (xi, r["before_dbfs"]), fontsize=7,
                            xytext=(4, -10), textcoords="offset points", color=f"C{k}")
    ax.axhline(TARGET, color="k", lw=0.8, ls=":")
    ax.text(LEVELS[0], TARGET + 0.8, "AGC target -20 dBFS", fontsize=8)
    ax.set_xlabel("talker's active level at the encoder input (dBFS)")
    ax.set_ylabel("decoded active level after 1 s (dBFS)")
    ax.set_title("Decoded levels at 7200 bit/s: without level control (dashed) and with AGC (solid)", fontsize=9)
    ax.set_xticks(LEVELS)
    ax.grid(alpha=0.3)
    ax.legend(fontsize=8, loc="upper left")
    fig.tight_layout()
    fig.savefig(path)
    print(f"wrote {path}", file=sys.stderr)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--plot", help="draw the figure to this PNG")
    parser.add_argument("--json", help="write the results here")
    args = parser.parse_args()
    results = []
    for name, speech in talkers().items():
        for level in LEVELS:
            pcm = at_level(speech, level)
            row = {"talker": name, "input_dbfs": level}
            for key, agc in (("before", False), ("after", True)):
                out = code(pcm, agc)[8000:]
                row[f"{key}_dbfs"] = active_dbfs(out)
                row[f"{key}_peak"] = int(np.abs(out.astype(np.int32)).max())
                row[f"{key}_clipped"] = int(np.sum(np.abs(out.astype(np.int32)) >= 32767))
            results.append(row)
            print(row, file=sys.stderr)
    print("| talker | input (dBFS) | output without AGC (dBFS) | clipped samples | output with AGC (dBFS) | "
          "peak with AGC | clipped samples |")
    print("|---|---:|---:|---:|---:|---:|---:|")
    for r in results:
        print(f"| {r['talker']} | {r['input_dbfs']:.0f} | {r['before_dbfs']:.1f} | {r['before_clipped']} | "
              f"{r['after_dbfs']:.1f} | {r['after_peak']} | {r['after_clipped']} |")
    spread = {k: max(r[f"{k}_dbfs"] for r in results) - min(r[f"{k}_dbfs"] for r in results) for k in ("before", "after")}
    print(f"\nspread of output levels: {spread['before']:.1f} dB without AGC, {spread['after']:.1f} dB with AGC")
    if args.json:
        with open(args.json, "w") as f:
            json.dump(results, f, indent=1)
    if args.plot:
        plot(results, args.plot)
    return 0


if __name__ == "__main__":
    sys.exit(main())
