#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Speech quality over a noisy radio channel: hard against soft-decision decoding.

The benchmark's speech clips (bench/quality.py) are encoded once per FEC rate (IMBE 7200 and
AMBE+2 3600), sent through additive white Gaussian noise at Es/N0 from -1 to 6 dB on antipodal
bits and on P25 C4FM four-level symbols (ostrel_mbe.channel.awgn), and decoded three ways with the
library's decoder defaults: from the sliced bits (decode_bits), from the soft values
(decode_soft), and an upper bound, the sliced bits with every FEC-protected bit put right by an
oracle (the unprotected bits keep their errors).  Each point reports narrow-band PESQ and STOI
(means over the clips, and the PESQ median), the raw bit error rate of the sliced bits and the share of frames the
decoder repeated and muted.  The summary gives, per rate and modulation, the Es/N0 where the
sliced bits see 5 % errors, the soft and hard PESQ there, and the coding gain: how much less
Es/N0 soft decoding needs for the PESQ hard decoding has there.

    python bench/channel_curves.py [--clips N] [--json out.json] [--plot docs/img/channel.png]
    python bench/channel_curves.py --from-json out.json --plot docs/img/channel.png
"""
from __future__ import annotations

import argparse
import json
import math
import sys
import time
from pathlib import Path

import numpy as np

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(HERE.parent / "tools"))

import quality  # noqa: E402  (the clips, alignment and scoring of the quality benchmark)

RATES = {"imbe7200": "IMBE_7200X4400", "ambe3600": "AMBEPLUS2_3600X2450"}
MODULATIONS = ("bits", "dibits")
# Es/N0 per transmitted symbol.  A C4FM symbol carries two bits, so its 5 % raw-error point lies
# near 7 dB: the dibit curves go on to 10 dB.
ESN0_DB = {"bits": (-1.0, 0.0, 1.0, 1.3, 2.0, 3.0, 4.0, 5.0, 6.0),
           "dibits": (-1.0, 0.0, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0, 9.0, 10.0)}
DECODERS = ("hard", "soft", "oracle")
TARGET_BER = 0.05


def protected_mask(module, rate, frame: bytes) -> np.ndarray:
    """Wire bits whose flip a decoder counts as a corrected error: the FEC-protected ones."""
    from ostrel_mbe import channel

    bits = channel.bits_of([frame])[0]
    mask = np.zeros(bits.size, dtype=bool)
    for i in range(bits.size):
        flipped = bits.copy()
        flipped[i] ^= 1
        probe = module.Vocoder(rate)
        probe.decode_bits(channel.frames_of(flipped[None, :])[0])
        mask[i] = sum(probe.last_decode_report()["errors"]) > 0
    return mask


def decode(module, rate, how: str, sent: list[bytes], soft: np.ndarray, mask: np.ndarray):
    """Decoded PCM and the shares of frames repeated and muted."""
    from ostrel_mbe import channel

    dec = module.Vocoder(rate)
    received = channel.hard(soft)
    if how == "oracle":
        bits = channel.bits_of(received)
        clean = channel.bits_of(sent)
        bits[:, mask] = clean[:, mask]
        received = channel.frames_of(bits)
    out, repeats, mutes = [], 0, 0
    for i, frame in enumerate(received):
        out.append(dec.decode_soft(soft[i]) if how == "soft" else dec.decode_bits(frame))
        disposition = dec.last_decode_report()["disposition"]
        repeats += disposition == "repeat"
        mutes += disposition == "mute"
    n = max(1, len(received))
    return np.concatenate(out), repeats / n, mutes / n


def run(clip_count: int, seed: int) -> dict:
    import _ostrel_mbe as module
    from ostrel_mbe import channel

    missing = quality.ensure_debian_packages(("codec2-examples", "asterisk-core-sounds-en-wav"))
    if missing:
        print(f"warning: could not install {' '.join(missing)}", file=sys.stderr)
    metrics = quality.Metrics(quality.ensure_pypi("pesq"), quality.ensure_pypi("pystoi"))
    clips = quality.choose_clips(clip_count)
    if not clips:
        raise SystemExit("error: no speech clips found")
    points = []
    start = time.perf_counter()
    for rate_name, member in RATES.items():
        rate = getattr(module.Rate, member)
        encoded = []
        for clip in clips:
            enc = module.Vocoder(rate)
            frames = -(-(len(clip.pcm) + quality.ENCODER_DELAY) // quality.FRAME)
            padded = np.zeros(frames * quality.FRAME, dtype=np.int16)
            padded[: len(clip.pcm)] = clip.pcm
            encoded.append([enc.encode_pcm(padded[i * quality.FRAME:(i + 1) * quality.FRAME]) for i in range(frames)])
        mask = protected_mask(module, rate, encoded[0][0])
        for modulation in MODULATIONS:
            for esn0 in ESN0_DB[modulation]:
                row = {"rate": rate_name, "modulation": modulation, "esn0_db": esn0}
                errors = total = 0
                scores = {how: {"pesq": [], "stoi": [], "repeat": [], "mute": []} for how in DECODERS}
                for k, (clip, sent) in enumerate(zip(clips, encoded)):
                    soft = channel.awgn(sent, esn0, modulation=modulation, seed=seed + k)
                    errors += channel.bit_errors(sent, channel.hard(soft))
                    total += len(sent) * len(sent[0]) * 8
                    for how in DECODERS:
                        pcm, repeat, mute = decode(module, rate, how, sent, soft, mask)
                        aligned = quality.align(clip.pcm, pcm, quality.ENCODER_DELAY)
                        s = scores[how]
                        s["pesq"].append(quality.score_pesq(metrics, clip.pcm, aligned))
                        s["stoi"].append(quality.score_stoi(metrics, clip.pcm, aligned))
                        s["repeat"].append(repeat)
                        s["mute"].append(mute)
                row["raw_ber"] = errors / total
                for how in DECODERS:
                    row[how] = {key: float(np.nanmean(values)) for key, values in scores[how].items()}
                    # PESQ misjudges a few nearly muted outputs (scores near 4 for comfort noise):
                    # the median over clips is kept beside the mean.
                    row[how]["pesq_median"] = float(np.nanmedian(scores[how]["pesq"]))
                    row[how]["pesq_clips"] = [float(v) for v in scores[how]["pesq"]]
                points.append(row)
                print(f"{rate_name} {modulation} {esn0:+.1f} dB: BER {row['raw_ber']:.4f} "
                      + " ".join(f"{how} {row[how]['pesq']:.3f}" for how in DECODERS), file=sys.stderr)
    return {
        "clips": {c.name: len(c.pcm) / quality.SAMPLE_RATE for c in clips},
        "seed": seed,
        "seconds": time.perf_counter() - start,
        "points": points,
        "summary": summarise(points),
    }


def _interpolate(x: float, xs: list[float], ys: list[float]) -> float:
    """ys at x, linear between the neighbouring points (xs increasing)."""
    return float(np.interp(x, xs, ys))


def _crossing(target: float, xs: list[float], ys: list[float]) -> float | None:
    """The first x where the increasing curve ys reaches target, linear between points."""
    for i in range(1, len(xs)):
        if ys[i - 1] < target <= ys[i]:
            return xs[i - 1] + (target - ys[i - 1]) * (xs[i] - xs[i - 1]) / (ys[i] - ys[i - 1])
    return xs[0] if ys and ys[0] >= target else None


def summarise(points: list[dict]) -> list[dict]:
    out = []
    for rate in RATES:
        for modulation in MODULATIONS:
            rows = sorted((p for p in points if p["rate"] == rate and p["modulation"] == modulation),
                          key=lambda p: p["esn0_db"])
            if not rows:
                continue
            xs = [p["esn0_db"] for p in rows]
            # Raw BER falls with Es/N0: interpolate log BER against Es/N0.
            log_ber = [math.log(max(p["raw_ber"], 1e-9)) for p in rows]
            at = _crossing(-math.log(TARGET_BER), xs, [-v for v in log_ber])
            entry = {"rate": rate, "modulation": modulation, "esn0_at_5pct_db": at,
                     "soft_minus_hard_worst": min(p["soft"]["pesq"] - p["hard"]["pesq"] for p in rows),
                     "soft_minus_hard_worst_median": min(p["soft"]["pesq_median"] - p["hard"]["pesq_median"]
                                                         for p in rows)}
            if at is not None:
                pesq = {how: _interpolate(at, xs, [p[how]["pesq"] for p in rows]) for how in DECODERS}
                entry.update({f"pesq_{how}_at_5pct": pesq[how] for how in DECODERS})
                soft_reaches = _crossing(pesq["hard"], xs, [p["soft"]["pesq"] for p in rows])
                entry["coding_gain_db"] = None if soft_reaches is None else at - soft_reaches
            out.append(entry)
    return out


def plot(payload: dict, path: Path) -> Path:
    from plot_figures import ensure_matplotlib, save

    plt = ensure_matplotlib()
    fig, axes = plt.subplots(2, 2, figsize=(10, 7), sharex=True, sharey=True)
    styles = {"hard": ("#c0792a", "o", "hard decisions"), "soft": ("#1f5f8b", "s", "soft decisions"),
              "oracle": ("#777777", "", "protected bits all correct (bound)")}
    titles = {"imbe7200": "IMBE 7200 bit/s", "ambe3600": "AMBE+2 3600 bit/s",
              "bits": "antipodal bits", "dibits": "C4FM dibits"}
    for r, rate in enumerate(RATES):
        for m, modulation in enumerate(MODULATIONS):
            ax = axes[r][m]
            rows = sorted((p for p in payload["points"] if p["rate"] == rate and p["modulation"] == modulation),
                          key=lambda p: p["esn0_db"])
            xs = [p["esn0_db"] for p in rows]
            for how, (colour, marker, label) in styles.items():
                ax.plot(xs, [p[how]["pesq"] for p in rows], color=colour, marker=marker or None,
                        linestyle="--" if how == "oracle" else "-", label=label)
            for entry in payload["summary"]:
                if entry["rate"] == rate and entry["modulation"] == modulation and entry["esn0_at_5pct_db"] is not None:
                    ax.axvline(entry["esn0_at_5pct_db"], color="#bbbbbb", linewidth=0.8)
                    ax.text(entry["esn0_at_5pct_db"], 1.05, " 5 % raw BER", fontsize=8, color="#666666")
            ax.set_title(f"{titles[rate]}, {titles[modulation]}", fontsize=10)
            ax.grid(alpha=0.3)
            if r == 1:
                ax.set_xlabel("Es/N0 (dB)")
            if m == 0:
                ax.set_ylabel("PESQ-NB (MOS-LQO)")
    axes[0][0].legend(fontsize=8, loc="lower right")
    fig.suptitle(f"Decoded speech over AWGN ({len(payload['clips'])} clips, library decoder defaults)")
    fig.tight_layout()
    path.parent.mkdir(parents=True, exist_ok=True)
    return save(fig, path)


def print_summary(payload: dict) -> None:
    print(f"{'rate':9} {'modulation':10} {'Es/N0@5%':>9} {'hard':>6} {'soft':>6} {'oracle':>6} {'gain dB':>8} "
          f"{'worst s-h':>9} {'(median)':>9}")
    for e in payload["summary"]:
        def f(v, d=3):
            return "n/a" if v is None else f"{v:.{d}f}"
        print(f"{e['rate']:9} {e['modulation']:10} {f(e['esn0_at_5pct_db'], 2):>9} {f(e.get('pesq_hard_at_5pct')):>6} "
              f"{f(e.get('pesq_soft_at_5pct')):>6} {f(e.get('pesq_oracle_at_5pct')):>6} "
              f"{f(e.get('coding_gain_db'), 2):>8} {f(e['soft_minus_hard_worst']):>9} "
              f"{f(e.get('soft_minus_hard_worst_median')):>9}")


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--clips", type=int, default=12, help="speech clips to use (default 12, all of them)")
    parser.add_argument("--seed", type=int, default=1, help="channel noise seed (default 1)")
    parser.add_argument("--json", type=Path, help="write the curves to this JSON file")
    parser.add_argument("--plot", type=Path, help="draw the figure (e.g. docs/img/channel.png)")
    parser.add_argument("--from-json", type=Path, metavar="FILE", help="use a saved run instead of running")
    args = parser.parse_args(argv)
    payload = json.loads(args.from_json.read_text()) if args.from_json else run(args.clips, args.seed)
    print_summary(payload)
    if args.json:
        args.json.write_text(json.dumps(payload, indent=1) + "\n")
    if args.plot:
        print(f"wrote {plot(payload, args.plot)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
