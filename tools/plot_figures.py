#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Figures for the README, into docs/img/:

- spectrograms.png: the bundled speech clip and its decoded version at each of the four rates;
- pesq.png: speech quality (PESQ MOS-LQO) per coder, from `bench/quality.py --json`;
- speed.png: encode and decode speed per coder, from `bench/python_bench.py --json`.

    python tools/plot_figures.py                                  # spectrograms only
    python tools/plot_figures.py --quality quality.json --speed speed.json

A figure whose JSON is not given is skipped.  Needs the module installed (`pip install .`);
installs matplotlib into the active virtualenv when it is missing.
"""

from __future__ import annotations

import argparse
import importlib
import json
import re
import subprocess
import sys
from pathlib import Path

import numpy as np

REPO = Path(__file__).resolve().parent.parent
SAMPLE_RATE = 8000
FRAME = 160
ENCODER_DELAY = 2 * FRAME  # the encoder's two-frame look-ahead
RATES = {
    "imbe7200": "IMBE_7200X4400",
    "imbe4400": "IMBE_4400X4400",
    "ambe3600": "AMBEPLUS2_3600X2450",
    "ambe2450": "AMBEPLUS2_2450X2450",
}
TITLES = {
    "imbe7200": "IMBE 7200 bit/s (4400 voice + FEC)",
    "imbe4400": "IMBE 4400 bit/s (no FEC)",
    "ambe3600": "AMBE+2 3600 bit/s (2450 voice + FEC)",
    "ambe2450": "AMBE+2 2450 bit/s (no FEC)",
}
OURS_COLOUR, CODEC2_COLOUR = "#1f5f8b", "#c0792a"


def ensure_matplotlib():
    try:
        importlib.import_module("matplotlib")
    except ImportError:
        if sys.prefix == sys.base_prefix:
            sys.exit("error: matplotlib is missing; run this script from the project's virtualenv "
                     "(source .venv/bin/activate) so that it can install it there")
        print("installing matplotlib into the virtualenv", file=sys.stderr)
        subprocess.check_call([sys.executable, "-m", "pip", "install", "-q", "matplotlib"])
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    return plt


def save(fig, path: Path) -> Path:
    """Writes the figure as a 256-colour PNG, a third of the size of a true-colour one."""
    import io

    from PIL import Image

    buffer = io.BytesIO()
    fig.savefig(buffer, format="png", dpi=72)
    Image.open(buffer).convert("RGB").quantize(colors=256).save(path, optimize=True)
    return path


def spectrogram_db(pcm: np.ndarray, n_fft: int = 256, hop: int = 128) -> np.ndarray:
    """Power in dB relative to full scale, frequencies along axis 0."""
    x = pcm.astype(np.float64) / 32768.0
    window = np.hanning(n_fft)
    starts = range(0, len(x) - n_fft + 1, hop)
    frames = np.stack([x[s:s + n_fft] * window for s in starts])
    power = np.abs(np.fft.rfft(frames, axis=1)) ** 2 / np.sum(window ** 2)
    return 10.0 * np.log10(power.T + 1e-10)


def decoded(module, member: str, pcm: np.ndarray) -> np.ndarray:
    """pcm through a fresh encoder and decoder, shifted back by the encoder's delay."""
    rate = getattr(module.Rate, member)
    encoder, decoder = module.LiveEncoder(rate), module.LiveDecoder(rate)
    frames = encoder.push(pcm)
    last = encoder.flush()
    data = b"".join(frames + ([last] if last is not None else []))
    out = np.concatenate(decoder.push(data))
    return out[ENCODER_DELAY:ENCODER_DELAY + len(pcm)]


def plot_spectrograms(plt, out: Path) -> Path:
    try:
        module = importlib.import_module("_ostrel_mbe")
    except ImportError as exc:
        sys.exit(f"error: _ostrel_mbe is not importable ({exc}); run `pip install .` first")
    from ostrel_mbe import wav
    from ostrel_mbe.__main__ import bundled_speech

    speech = wav.load_pcm(bundled_speech())
    panels = [("Input: bundled speech clip (8 kHz)", speech)]
    panels += [(f"Decoded: {TITLES[key]}", decoded(module, member, speech)) for key, member in RATES.items()]
    fig, axes = plt.subplots(len(panels), 1, figsize=(8, 9.5), sharex=True, constrained_layout=True)
    seconds = len(speech) / SAMPLE_RATE
    image = None
    for ax, (title, pcm) in zip(axes, panels):
        image = ax.imshow(spectrogram_db(pcm), origin="lower", aspect="auto", cmap="magma", vmin=-100, vmax=-20,
                          extent=(0.0, seconds, 0.0, SAMPLE_RATE / 2000.0))
        ax.set_title(title, fontsize=10, loc="left")
        ax.set_ylabel("kHz")
    axes[-1].set_xlabel("time (s)")
    fig.colorbar(image, ax=axes, label="power (dB full scale)", shrink=0.6)
    path = save(fig, out / "spectrograms.png")
    plt.close(fig)
    return path


def bit_rate(label: str) -> int:
    """Gross bit rate of a coder label: 'imbe7200' -> 7200, 'codec2 3200' -> 3200."""
    digits = re.findall(r"\d+", label)
    return int(digits[0]) if digits else 0


def coder_colour(label: str) -> str:
    return OURS_COLOUR if label.startswith(("imbe", "ambe")) else CODEC2_COLOUR


# The settings shown for our rates: the post-filter and pitch tracker of the library's defaults,
# with either formant weighting (the library's default compat, the command line's standard).
SHOWN_SETTINGS = {"enhancement": "classical", "pitch": "std", "ambe_plus2_synth": "ambe_plus"}


# The no-FEC rates score exactly as their FEC forms on a clean channel; the unprocessed input
# (PESQ 4.5) would only stretch the scale.
NOT_SHOWN_RATES = ("imbe4400", "ambe2450")


def _shown(result: dict) -> bool:
    if result.get("family") == "reference":
        return False
    if result.get("family") != "ostrel_mbe":
        return True
    settings = result.get("settings", {})
    return (settings.get("rate") not in NOT_SHOWN_RATES
            and all(settings.get(key, value) == value for key, value in SHOWN_SETTINGS.items()))


# What the command line uses where the library's default differs: the standard formant weighting,
# and the quantizer search into the half rates (encoding and transcoding alike).
COMMAND_LINE = {"formant_weighting": "standard", "quantizer_search": "search"}
COMMAND_LINE_MARK = " [command line]"


def command_line(result: dict) -> bool:
    """Whether a row of ours is decoded (and, into a half rate, quantized) as the command line does."""
    if not result.get("family", "").startswith("ostrel_mbe"):
        return False
    settings = result.get("settings", {})
    # Every row of ours names its weighting; only the half rates name a quantizer.
    return (settings.get("formant_weighting") == COMMAND_LINE["formant_weighting"]
            and settings.get("quantizer_search", "search") == COMMAND_LINE["quantizer_search"])


def quality_rows(payload: dict) -> list[tuple[str, float, float, float | None, float | None]]:
    """(label, PESQ mean, PESQ min, STOI mean or None, P.808 mean or None) of the scored coders in a
    quality.py JSON: our rates at the default settings with either formant weighting (and, at the
    half rates, either quantizer), the bridges between the codecs and every comparison coder;
    ours first, then by bit rate.  The command line's rows are marked."""
    rows = []
    for label, r in payload.get("results", {}).items():
        if not r.get("available", True) or not _shown(r):
            continue
        pesq = r.get("pesq", r)  # older files kept mean and min at the top level
        if pesq.get("mean") is None:
            continue
        stoi = r.get("stoi", {}).get("mean")
        p808 = r.get("p808", {}).get("mean")
        rows.append((label + (COMMAND_LINE_MARK if command_line(r) else ""), pesq["mean"], pesq["min"], stoi, p808))
    return sorted(rows, key=lambda row: (coder_colour(row[0]) != OURS_COLOUR, -bit_rate(row[0]), row[0]))


def speed_rows(payload: dict) -> list[tuple[str, float, float]]:
    """(label, encode frames/s, decode frames/s) of every timed coder in a speed JSON."""
    rows = [(label, r["encode_fps"], r["decode_fps"]) for label, r in payload.get("results", {}).items()
            if r.get("available", True) and "encode_fps" in r and "decode_fps" in r]
    return sorted(rows, key=lambda row: -bit_rate(row[0]))


def plot_quality(plt, payload: dict, out: Path) -> Path | None:
    rows = quality_rows(payload)
    if not rows:
        return None
    with_stoi = all(r[3] is not None for r in rows)
    with_p808 = with_stoi and all(r[4] is not None for r in rows)
    panels = 1 + with_stoi + with_p808
    fig, axes = plt.subplots(1, panels, figsize=(4 + 3.5 * panels, 0.32 * len(rows) + 1.4),
                             sharey=True, constrained_layout=True, squeeze=False)
    y = np.arange(len(rows))
    colours = [coder_colour(r[0]) for r in rows]
    ax = axes[0][0]
    ax.barh(y, [r[1] for r in rows], color=colours, label="mean")
    ax.plot([r[2] for r in rows], y, "k|", markersize=10, label="lowest clip")
    ax.set_yticks(y, [r[0] for r in rows], fontsize=8)
    for tick, row in zip(ax.get_yticklabels(), rows):
        if row[0].endswith(COMMAND_LINE_MARK):
            tick.set_fontweight("bold")
    ax.invert_yaxis()
    ax.set_xlim(1.0, 4.5)
    ax.set_xlabel("PESQ narrow-band MOS-LQO (higher is better)")
    ax.legend(loc="lower right", fontsize=8)
    if with_stoi:
        ax = axes[0][1]
        ax.barh(y, [r[3] for r in rows], color=colours)
        ax.set_xlim(0.8, 1.0)
        ax.set_xlabel("STOI (higher is better)")
    if with_p808:
        ax = axes[0][2]
        ax.barh(y, [r[4] for r in rows], color=colours)
        ax.set_xlim(2.5, 3.6)
        ax.set_xlabel("DNSMOS P.808 (higher is better)")
    fig.suptitle(f"Speech quality over {len(payload.get('clips', {}))} clips: ostrel_mbe (blue; the command "
                 "line's settings in bold) and other coders (orange)", fontsize=10)
    path = save(fig, out / "pesq.png")
    plt.close(fig)
    return path


def plot_speed(plt, payload: dict, out: Path) -> Path | None:
    rows = speed_rows(payload)
    if not rows:
        return None
    fig, ax = plt.subplots(figsize=(8, 0.6 * len(rows) + 1.4), constrained_layout=True)
    y = np.arange(len(rows))
    ax.barh(y - 0.2, [r[1] / 50.0 for r in rows], height=0.38, color=[coder_colour(r[0]) for r in rows],
            label="encode")
    ax.barh(y + 0.2, [r[2] / 50.0 for r in rows], height=0.38, color=[coder_colour(r[0]) for r in rows],
            alpha=0.55, label="decode")
    ax.set_yticks(y, [r[0] for r in rows])
    ax.invert_yaxis()
    ax.set_xscale("log")
    ax.set_xlim(left=1.0)  # bars start at real time
    ax.set_xlabel("times faster than real time, one thread (50 frames per second of speech)")
    ax.set_title("Speed (encode dark, decode light)", fontsize=10)
    path = save(fig, out / "speed.png")
    plt.close(fig)
    return path


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quality", type=Path, help="JSON written by bench/quality.py --json")
    parser.add_argument("--speed", type=Path, help="JSON written by bench/python_bench.py --json")
    parser.add_argument("--out", type=Path, default=REPO / "docs" / "img", help="output folder (default docs/img)")
    parser.add_argument("--no-spectrograms", action="store_true", help="draw only the figures from JSON")
    args = parser.parse_args(argv)
    plt = ensure_matplotlib()
    args.out.mkdir(parents=True, exist_ok=True)

    written = []
    if not args.no_spectrograms:
        written.append(plot_spectrograms(plt, args.out))
    for name, source, plot in (("PESQ", args.quality, plot_quality), ("speed", args.speed, plot_speed)):
        if source is None:
            print(f"skipped the {name} figure: no JSON given")
            continue
        path = plot(plt, json.loads(source.read_text()), args.out)
        if path is None:
            print(f"skipped the {name} figure: {source} holds no usable results")
        else:
            written.append(path)
    for path in written:
        print(f"wrote {path}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
