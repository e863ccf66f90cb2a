#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Loss budget of the half and the full rate: where the quality between the analysed parameters and
the decoded wire goes.

Every row sends the clips of bench/quality.py through bench/loss_budget_driver (a benchmark binary
built with -DOSTREL_BUILD_BENCH=ON) with one parameter group, or a set of them, through the quantizer
and the rest unquantized, decoded by the channel's own synthesis and post-filter, and scores PESQ-NB,
STOI and DNSMOS P.808 as bench/quality.py does.  The groups (see the driver's header for each step):

  half rate: pitch (pitch-table value; L is the table's already), voicing (voicing code, with the
  decoder's level for a harmonic whose class flips), gain (differential scalar), prba (block
  averages through the two PRBA codebooks), hoc (higher-order coefficients through theirs, above the
  sixth dropped), memory (prediction from the unquantized previous frame: with gain+prba+hoc it
  shows what the predictor's memory of quantization error costs);
  full rate: pitch, voicing, amps (the amplitudes as the closed-loop quantizer rebuilds them);
  wire: the channel itself, encode_pcm then decode_bits.
Decoder rows run the same frames with the other synthesis variant or without the post-filter.
Every row decodes with the command line's formant weighting (standard) unless it says otherwise.

    python bench/loss_budget.py [--clips N] [--clip-set bench|other|third] [--driver PATH] [--json out.json]
"""
from __future__ import annotations

import argparse
import json
import subprocess
import sys
import tempfile
from pathlib import Path

import numpy as np

sys.path.insert(0, str(Path(__file__).resolve().parent))
import quality  # noqa: E402

# (label, rate family, groups, driver options). Options: pyin, search, baseline, noenh, standard.
HALF = [
    ("2450 analysed (no quantizer)", "none", ()),
    ("2450 pitch", "pitch", ()),
    ("2450 voicing", "voicing", ()),
    ("2450 gain", "gain", ()),
    ("2450 PRBA", "prba", ()),
    ("2450 higher-order blocks", "hoc", ()),
    ("2450 higher-order truncation only", "hoctrunc", ()),
    ("2450 gain+PRBA+HOC", "gain,prba,hoc", ()),
    ("2450 gain+PRBA+HOC, exact memory", "gain,prba,hoc,memory", ()),
    ("2450 all groups", "pitch,voicing,gain,prba,hoc", ()),
    ("2450 wire", "wire", ()),
    ("2450 wire, quantizer search", "wire", ("search",)),
    ("2450 analysed, baseline synthesis", "none", ("baseline",)),
    ("2450 wire, baseline synthesis", "wire", ("baseline",)),
    ("2450 analysed, no post-filter", "none", ("noenh",)),
    ("2450 wire, no post-filter", "wire", ("noenh",)),
    ("2450 wire, compat weighting", "wire", ("compat",)),
]
FULL = [
    ("4400 analysed (no quantizer)", "none", ()),
    ("4400 pitch", "pitch", ()),
    ("4400 voicing", "voicing", ()),
    ("4400 amplitudes", "amps", ()),
    ("4400 all groups", "pitch,voicing,amps", ()),
    ("4400 wire", "wire", ()),
    ("4400 analysed, no post-filter", "none", ("noenh",)),
]


def find_driver(path: Path | None) -> Path:
    """The driver binary: the given path or the usual build trees."""
    root = Path(__file__).resolve().parent.parent
    for candidate in ([path] if path else [root / "build" / d / "loss_budget_driver" for d in ("bench", "release")]):
        if candidate and candidate.is_file():
            return candidate
    raise SystemExit("loss_budget_driver not found: cmake -S . -B build/bench -DOSTREL_BUILD_BENCH=ON && "
                     "cmake --build build/bench --target loss_budget_driver")


def driver_coder(driver: Path, label: str, family: str, groups: str, options: tuple[str, ...]) -> quality.Coder:
    opts = [o for o in options if o != "compat"] + ([] if "compat" in options else ["standard"])

    def run(pcm: np.ndarray) -> np.ndarray:
        frames = -(-(len(pcm) + quality.ENCODER_DELAY) // quality.FRAME)
        padded = np.zeros(frames * quality.FRAME, dtype="<i2")
        padded[: len(pcm)] = pcm
        with tempfile.TemporaryDirectory(prefix="ostrel_budget_") as tmp:
            src, dst = Path(tmp) / "in.raw", Path(tmp) / "out.raw"
            padded.tofile(src)
            subprocess.run([str(driver), family, groups, *opts, "--", str(src), str(dst)], check=True)
            return np.fromfile(dst, dtype="<i2").astype(np.int16)

    bits = 2450 if family == "ambe" else 4400
    return quality.Coder(label, "loss budget", bits, {"groups": groups, "options": ",".join(opts)}, run)


def budget_coders(driver: Path) -> list[quality.Coder]:
    return ([driver_coder(driver, label, "ambe", g, o) for label, g, o in HALF]
            + [driver_coder(driver, label, "imbe", g, o) for label, g, o in FULL])


def print_budget(summaries: dict[str, dict]) -> None:
    """Each row with its loss against its rate's analysed row (PESQ, STOI, P.808)."""
    print(f"{'row':<40} {'PESQ':>6} {'STOI':>6} {'P.808':>6} {'dPESQ':>7} {'dSTOI':>7} {'dP.808':>7}")
    bases = {}
    for label, s in summaries.items():
        means = [s[k]["mean"] for k in ("pesq", "stoi", "p808")]
        if "analysed (no quantizer)" in label:
            bases[label.split()[0]] = means
        base = bases.get(label.split()[0])
        deltas = [m - b if None not in (m, b) else None for m, b in zip(means, base)] if base else [None] * 3
        print(f"{label:<40} " + " ".join(f"{quality._fmt(m):>6}" for m in means) + " "
              + " ".join(f"{'n/a' if d is None else f'{d:+.3f}':>7}" for d in deltas))


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--clips", type=int, default=None, help="use at most N clips")
    parser.add_argument("--clip-set", choices=("bench", *quality.OTHER_SETS), default="bench",
                        help="bench: bench/quality.py's 12 clips; other, third: its sets of 30 other prompts")
    parser.add_argument("--driver", type=Path, default=None, help="path of loss_budget_driver")
    parser.add_argument("--rows", default=None, help="only rows whose label contains this text")
    parser.add_argument("--p808", choices=("all", "key", "none"), default="key",
                        help="rows scored by DNSMOS, the slow metric: all, key (the analysed and wire "
                             "rows without decoder variants) or none")
    parser.add_argument("--json", type=Path, help="also write the results to this JSON file")
    args = parser.parse_args(argv)

    driver = find_driver(args.driver)
    with_p808 = quality.Metrics(quality.ensure_pypi("pesq"), quality.ensure_pypi("pystoi"),
                                quality.dnsmos_module() if args.p808 != "none" else None)
    without_p808 = quality.Metrics(with_p808.pesq, with_p808.stoi, None)
    clips = quality.choose_clips(args.clips, args.clip_set)
    if not clips:
        print("error: no speech clips found (bench/quality.py installs them)", file=sys.stderr)
        return 2
    coders = [c for c in budget_coders(driver) if args.rows is None or args.rows in c.label]
    def metrics(label: str) -> quality.Metrics:
        key = label.endswith(("(no quantizer)", " wire", "quantizer search"))
        return with_p808 if args.p808 == "all" or (args.p808 == "key" and key) else without_p808

    summaries = {c.label: quality.summary(quality.evaluate(c, clips, metrics(c.label), None)) for c in coders}
    print(f"clips: {len(clips)} ({sum(len(c.pcm) for c in clips) / quality.SAMPLE_RATE:.1f} s)")
    print_budget(summaries)
    if args.json:
        args.json.write_text(json.dumps({"clips": [c.name for c in clips], "results": summaries}, indent=2) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
