#!/usr/bin/env python3
"""Objective speech quality: narrow-band PESQ (ITU-T P.862, MOS-LQO) of each rate against codec2.

Every chosen 8 kHz speech clip goes through a fresh encoder/decoder pair of `_ostrel_mbe.Vocoder`
at each requested rate and through the codec2 command-line tools (c2enc/c2dec, used as a black
box) at 3200, 2400 and 1600 bit/s; each output is time-aligned with its input and scored.
Installs what it needs when missing: the Debian packages codec2, codec2-examples and
asterisk-core-sounds-en-wav (apt-get, as root) and PyPI's pesq (into this interpreter's environment).

    python bench/quality.py [--rates imbe7200,imbe4400,ambe3600,ambe2450] [--clips N] [--json out.json]
"""
from __future__ import annotations

import argparse
import importlib
import importlib.metadata
import json
import math
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import wave
from dataclasses import dataclass, field
from pathlib import Path
from typing import Callable

import numpy as np

SAMPLE_RATE = 8000
FRAME = 160
# The encoder sends the parameters of input frame n in wire frame n + 2.
ENCODER_DELAY = 2 * FRAME

RATES = {
    "imbe7200": "IMBE_7200X4400",
    "imbe4400": "IMBE_4400X4400",
    "ambe3600": "AMBEPLUS2_3600X2450",
    "ambe2450": "AMBEPLUS2_2450X2450",
}
CODEC2_MODES = ("3200", "2400", "1600")
DEBIAN_PACKAGES = ("codec2", "codec2-examples", "asterisk-core-sounds-en-wav")

# Clip choice. codec2-examples also ships modem signals, sine sweeps, noisy off-air recordings and
# already-coded speech; these are its clean studio speech files (8 kHz raw), used by name.
CODEC2_CLIPS = ("big_dog", "cross", "forig", "hts1a", "hts2a", "morig")
# Asterisk prompts include tones and beeps. Names are matched case-insensitively as substrings.
ASTERISK_SKIP = ("tone", "beep", "music", "silence", "dtmf", "tt-monkeys", "conf-", "ring")
ASTERISK_CLIPS = 6
ASTERISK_MIN_S, ASTERISK_MAX_S = 2.0, 5.0
MAX_CLIP_S = 10.0
# Longest codec delay searched for when aligning an output with its input (samples).
MAX_LAG = 6 * FRAME


# ---------------------------------------------------------------------------------------------
# Dependencies


def _dpkg_installed(package: str) -> bool:
    r = subprocess.run(["dpkg-query", "-W", "-f=${Status}", package],
                       capture_output=True, text=True, check=False)
    return r.returncode == 0 and "install ok installed" in r.stdout


def ensure_debian_packages(packages: tuple[str, ...]) -> list[str]:
    """Installs the missing packages with apt-get; returns those still missing afterwards."""
    if shutil.which("dpkg-query") is None:
        return list(packages)
    missing = [p for p in packages if not _dpkg_installed(p)]
    if not missing:
        return []
    if shutil.which("apt-get") is None or os.geteuid() != 0:
        print(f"warning: missing Debian packages {' '.join(missing)} (need root and apt-get to install)",
              file=sys.stderr)
        return missing
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    print(f"installing Debian packages: {' '.join(missing)}", file=sys.stderr)
    subprocess.run(["apt-get", "update", "-q"], env=env, check=False,
                   stdout=subprocess.DEVNULL)
    subprocess.run(["apt-get", "install", "-y", "-q", "--no-install-recommends", *missing],
                   env=env, check=False, stdout=subprocess.DEVNULL)
    return [p for p in missing if not _dpkg_installed(p)]


def package_version(package: str) -> str | None:
    r = subprocess.run(["dpkg-query", "-W", "-f=${Version}", package],
                       capture_output=True, text=True, check=False)
    return (r.stdout.strip() or None) if r.returncode == 0 else None


def ensure_pesq():
    """Imports pesq, installing it from PyPI into this interpreter's environment when absent."""
    try:
        return importlib.import_module("pesq")
    except ImportError:
        pass
    print("installing pesq from PyPI", file=sys.stderr)
    subprocess.run([sys.executable, "-m", "pip", "install", "-q", "pesq"], check=True)
    importlib.invalidate_caches()
    return importlib.import_module("pesq")


def import_codec():
    """The extension module, or None (with the reason printed) when it is not importable."""
    try:
        return importlib.import_module("_ostrel_mbe")
    except ImportError as exc:
        print(f"warning: _ostrel_mbe is not importable ({exc}); our rates are reported as n/a",
              file=sys.stderr)
        return None


# ---------------------------------------------------------------------------------------------
# Clips


@dataclass
class Clip:
    name: str
    pcm: np.ndarray  # int16, 8 kHz mono


def _package_files(package: str) -> list[Path]:
    r = subprocess.run(["dpkg", "-L", package], capture_output=True, text=True, check=False)
    if r.returncode != 0:
        return []
    return [Path(line) for line in r.stdout.splitlines() if line.strip()]


def _skip(name: str, patterns: tuple[str, ...]) -> bool:
    lower = name.lower()
    return any(p in lower for p in patterns)


def read_wav_8k(path: Path) -> np.ndarray | None:
    """Mono 16-bit 8 kHz WAV samples, or None for any other format."""
    try:
        with wave.open(str(path), "rb") as w:
            if (w.getnchannels(), w.getsampwidth(), w.getframerate()) != (1, 2, SAMPLE_RATE):
                return None
            data = w.readframes(w.getnframes())
    except (wave.Error, EOFError, OSError):
        return None
    return np.frombuffer(data, dtype="<i2").astype(np.int16)


def codec2_clips() -> list[Clip]:
    """The clean 8 kHz speech files of codec2-examples (headerless 16-bit little-endian raw)."""
    by_stem = {p.stem: p for p in _package_files("codec2-examples")
               if p.suffix == ".raw" and p.parent.name == "raw" and p.is_file()}
    clips = []
    for stem in CODEC2_CLIPS:
        if stem not in by_stem:
            continue
        pcm = np.fromfile(by_stem[stem], dtype="<i2").astype(np.int16)
        clips.append(Clip(f"codec2:{stem}", pcm[: int(MAX_CLIP_S * SAMPLE_RATE)]))
    return clips


def asterisk_clips(count: int) -> list[Clip]:
    """`count` prompts of 2-5 s, evenly spaced through the name-sorted list of one voice."""
    seen: set[Path] = set()
    candidates: list[tuple[str, Path]] = []
    for path in _package_files("asterisk-core-sounds-en-wav"):
        if path.suffix != ".wav" or _skip(path.name, ASTERISK_SKIP) or not path.is_file():
            continue
        real = path.resolve()
        if real in seen:
            continue
        seen.add(real)
        candidates.append((real.name, real))
    candidates.sort()
    usable = []
    for name, real in candidates:
        pcm = read_wav_8k(real)
        if pcm is None or not ASTERISK_MIN_S <= len(pcm) / SAMPLE_RATE <= ASTERISK_MAX_S:
            continue
        usable.append(Clip(f"asterisk:{Path(name).stem}", pcm))
    if len(usable) <= count:
        return usable
    step = len(usable) / count
    return [usable[int(i * step + step / 2)] for i in range(count)]


def choose_clips(limit: int | None) -> list[Clip]:
    """Both sources interleaved, so a small --clips still draws from each."""
    a, b = codec2_clips(), asterisk_clips(ASTERISK_CLIPS)
    merged = []
    for i in range(max(len(a), len(b))):
        merged += [c[i] for c in (a, b) if i < len(c)]
    return merged[:limit] if limit is not None else merged


# ---------------------------------------------------------------------------------------------
# Alignment


def _envelope(x: np.ndarray, width: int = 80) -> np.ndarray:
    """Short-term RMS over 10 ms: follows syllables, not the pitch pulses whose phase a
    parametric coder does not keep (a 4 ms window let those pull the lag by up to 40 samples)."""
    power = np.asarray(x, dtype=np.float64) ** 2
    kernel = np.ones(width) / width
    return np.sqrt(np.convolve(power, kernel, mode="same"))


def delay_curve(ref: np.ndarray, out: np.ndarray, max_lag: int = MAX_LAG) -> np.ndarray:
    """How well out[d:] matches ref for every lag d in [0, max_lag] (samples), in [-1, 1].

    Pearson correlation of short-term envelopes over the whole of ref for every lag, so neither
    the overlap length nor a level difference favours a lag."""
    a = _envelope(ref)
    b = _envelope(np.concatenate([out, np.zeros(max(0, len(ref) + max_lag - len(out)))]))
    b = b[: len(a) + max_lag]
    a = a - a.mean()
    a_norm = np.linalg.norm(a)
    if a_norm == 0.0:
        return np.zeros(max_lag + 1)
    n = len(a)
    # Numerator: sum over the window of b times centred a (so b's window mean drops out), by FFT.
    size = 1 << (len(b) + n - 1).bit_length()
    num = np.fft.irfft(np.fft.rfft(b, size) * np.conj(np.fft.rfft(a, size)), size)[: max_lag + 1]
    # Denominator: norm of b's centred window, from running sums.
    c1 = np.concatenate([[0.0], np.cumsum(b)])
    c2 = np.concatenate([[0.0], np.cumsum(b * b)])
    lags = np.arange(max_lag + 1)
    s1 = c1[lags + n] - c1[lags]
    s2 = c2[lags + n] - c2[lags]
    var = np.maximum(s2 - s1 * s1 / n, 0.0)
    return num / np.where(var > 0.0, np.sqrt(var) * a_norm, np.inf)


def align(ref: np.ndarray, out: np.ndarray, delay: int) -> np.ndarray:
    """out shifted earlier by `delay` samples and cut or zero-padded to the length of ref."""
    shifted = np.asarray(out[delay:], dtype=np.int16)
    if len(shifted) >= len(ref):
        return shifted[: len(ref)].copy()
    return np.concatenate([shifted, np.zeros(len(ref) - len(shifted), dtype=np.int16)])


# ---------------------------------------------------------------------------------------------
# Codecs: each maps int16 PCM to int16 PCM (unaligned), or raises Unavailable.


class Unavailable(Exception):
    """The codec or rate cannot run here (not built, not implemented, tool missing)."""


def ours(module, rate_key: str) -> Callable[[np.ndarray], np.ndarray]:
    def run(pcm: np.ndarray) -> np.ndarray:
        if module is None:
            raise Unavailable("_ostrel_mbe not importable")
        try:
            rate = getattr(module.Rate, RATES[rate_key])
            # Separate channels: a channel's encoder and decoder share its quantizer state.
            enc, dec = module.Vocoder(rate), module.Vocoder(rate)
        except (AttributeError, ValueError) as exc:
            raise Unavailable(str(exc)) from exc
        # Two more frames of silence flush the encoder delay out.
        frames = -(-(len(pcm) + ENCODER_DELAY) // FRAME)
        padded = np.zeros(frames * FRAME, dtype=np.int16)
        padded[: len(pcm)] = pcm
        out = np.empty_like(padded)
        try:
            for i in range(frames):
                bits = enc.encode_pcm(padded[i * FRAME:(i + 1) * FRAME])
                out[i * FRAME:(i + 1) * FRAME] = dec.decode_bits(bits)
        except ValueError as exc:
            raise Unavailable(str(exc)) from exc
        return out
    return run


def codec2(mode: str) -> Callable[[np.ndarray], np.ndarray]:
    def run(pcm: np.ndarray) -> np.ndarray:
        c2enc, c2dec = shutil.which("c2enc"), shutil.which("c2dec")
        if c2enc is None or c2dec is None:
            raise Unavailable("c2enc/c2dec not found")
        with tempfile.TemporaryDirectory(prefix="ostrel_quality_") as tmp:
            src, bits, dst = (Path(tmp) / n for n in ("in.raw", "out.bit", "out.raw"))
            np.asarray(pcm, dtype="<i2").tofile(src)
            for cmd in ([c2enc, mode, str(src), str(bits)], [c2dec, mode, str(bits), str(dst)]):
                r = subprocess.run(cmd, capture_output=True, check=False)
                if r.returncode != 0:
                    raise Unavailable(f"{Path(cmd[0]).name} {mode} failed: "
                                      f"{r.stderr.decode(errors='replace').strip()[:200]}")
            return np.fromfile(dst, dtype="<i2").astype(np.int16)
    return run


# ---------------------------------------------------------------------------------------------
# Scoring


@dataclass
class Result:
    label: str
    scores: dict[str, float] = field(default_factory=dict)
    delay: int | None = None
    clip_delays: dict[str, int] = field(default_factory=dict)
    unavailable: str | None = None
    seconds: float = 0.0


def score(pesq_mod, ref: np.ndarray, deg: np.ndarray) -> float:
    try:
        return float(pesq_mod.pesq(SAMPLE_RATE, ref.astype(np.float32), deg.astype(np.float32), "nb"))
    except Exception as exc:  # pesq raises its own error types (no utterances, too short)
        print(f"warning: PESQ failed: {exc}", file=sys.stderr)
        return math.nan


def evaluate(label: str, codec, clips: list[Clip], pesq_mod, fixed_delay: int | None) -> Result:
    """Scores every clip; a codec's delay is constant, so one delay (the best over all clips
    together unless fixed) aligns every output. Per-clip best lags are kept for diagnosis."""
    result = Result(label)
    start = time.perf_counter()
    outputs = []
    for clip in clips:
        try:
            outputs.append(codec(clip.pcm))
        except Unavailable as exc:
            result.unavailable = str(exc)
            return result
    curves = [delay_curve(clip.pcm, out) for clip, out in zip(clips, outputs)]
    for clip, curve in zip(clips, curves):
        result.clip_delays[clip.name] = int(np.argmax(curve))
    result.delay = fixed_delay if fixed_delay is not None else int(np.argmax(np.sum(curves, axis=0)))
    for clip, out in zip(clips, outputs):
        result.scores[clip.name] = score(pesq_mod, clip.pcm, align(clip.pcm, out, result.delay))
    result.seconds = time.perf_counter() - start
    print(f"{label}: {len(clips)} clips in {result.seconds:.1f} s", file=sys.stderr)
    return result


def summary(r: Result) -> dict:
    valid = [s for s in r.scores.values() if not math.isnan(s)]
    return {
        "available": r.unavailable is None,
        "reason": r.unavailable,
        "clips": len(valid),
        "mean": statistics.fmean(valid) if valid else None,
        "min": min(valid) if valid else None,
        "delay": r.delay,
        "per_clip": r.scores,
        "per_clip_best_delay": r.clip_delays,
        "seconds": round(r.seconds, 2),
    }


def print_table(results: list[Result], clips: list[Clip]) -> None:
    print(f"PESQ narrow-band MOS-LQO over {len(clips)} clips "
          f"({sum(len(c.pcm) for c in clips) / SAMPLE_RATE:.1f} s of speech)")
    print(f"{'codec':<18} {'clips':>5} {'mean':>6} {'min':>6} {'delay':>6} {'time/s':>7}")
    for r in results:
        s = summary(r)
        if not s["available"] or s["mean"] is None:
            reason = s["reason"] or "no valid score"
            print(f"{r.label:<18} {'n/a':>5}  ({reason})")
            continue
        print(f"{r.label:<18} {s['clips']:>5} {s['mean']:>6.3f} {s['min']:>6.3f} "
              f"{s['delay']:>6} {s['seconds']:>7.1f}")
    print("delay: samples dropped from the start of each decoder output to align it with its input")


# ---------------------------------------------------------------------------------------------


def self_test(clips: list[Clip], pesq_mod) -> int:
    """Alignment and scoring checked on stand-in codecs whose delay is known."""
    failures = 0
    for true_delay in (0, ENCODER_DELAY, 437):
        def delayed(pcm, d=true_delay):
            return np.concatenate([np.zeros(d, dtype=np.int16), pcm, np.zeros(FRAME, dtype=np.int16)])
        r = evaluate(f"delay {true_delay}", delayed, clips, pesq_mod, None)
        s = summary(r)
        ok = (r.delay == true_delay and all(d == true_delay for d in r.clip_delays.values())
              and s["min"] is not None and s["min"] > 4.4)
        failures += not ok
        print(f"self-test delay {true_delay:>3}: measured {r.delay}, per clip "
              f"{sorted(set(r.clip_delays.values()))}, "
              f"PESQ min {s['min']:.3f} {'ok' if ok else 'FAIL'}")
    # Phase-incoherent stand-in for a parametric coder: same envelope, different waveform.
    rng = np.random.default_rng(1)
    def noisy(pcm, d=ENCODER_DELAY):
        x = pcm.astype(np.float64)
        env = _envelope(x, 80)
        noise = rng.standard_normal(len(x)) * env * 0.3
        y = np.concatenate([np.zeros(d), x * 0.8 + noise])
        return np.clip(y, -32768, 32767).astype(np.int16)
    r = evaluate("noisy", noisy, clips, pesq_mod, None)
    ok = abs(r.delay - ENCODER_DELAY) <= 8
    failures += not ok
    print(f"self-test noisy delay {ENCODER_DELAY}: measured {r.delay}, per clip "
          f"{sorted(set(r.clip_delays.values()))} "
          f"{'ok' if ok else 'FAIL'}")
    # The Vocoder path (framing, flush, encoder delay, unavailable rates) with a stand-in module
    # whose wire frame is the PCM of two frames earlier.
    fake = _stand_in_module()
    for key in RATES:
        for fixed in (None, ENCODER_DELAY):
            r = evaluate(key, ours(fake, key), clips, pesq_mod, fixed)
            s = summary(r)
            if key.startswith("ambe"):
                ok = r.unavailable is not None
                outcome = f"n/a ({r.unavailable})"
            else:
                ok = r.delay == ENCODER_DELAY and s["min"] is not None and s["min"] > 4.4
                outcome = f"delay {r.delay}, PESQ min {s['min']:.3f}"
            failures += not ok
            mode = "fixed" if fixed is not None else "xcorr"
            print(f"self-test stand-in {key} ({mode}): {outcome} {'ok' if ok else 'FAIL'}")
    print("self-test " + ("passed" if not failures else f"FAILED ({failures})"))
    return 1 if failures else 0


def _stand_in_module():
    """Mimics `_ostrel_mbe`: full rates are a pure 2-frame delay, half rates raise ValueError."""
    import types
    from collections import deque

    class Rate:
        IMBE_7200X4400, IMBE_4400X4400 = "imbe7200", "imbe4400"
        AMBEPLUS2_3600X2450, AMBEPLUS2_2450X2450 = "ambe3600", "ambe2450"

    class Vocoder:
        def __init__(self, rate):
            if rate.startswith("ambe"):
                raise ValueError("rate not available")
            self.queue = deque([np.zeros(FRAME, dtype=np.int16)] * 2)

        def encode_pcm(self, pcm):
            assert pcm.dtype == np.int16 and pcm.shape == (FRAME,)
            self.queue.append(pcm.copy())
            return self.queue.popleft().tobytes()

        def decode_bits(self, bits):
            return np.frombuffer(bits, dtype=np.int16).copy()

    return types.SimpleNamespace(Rate=Rate, Vocoder=Vocoder)


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rates", default=",".join(RATES),
                        help="comma-separated rates out of " + ",".join(RATES))
    parser.add_argument("--codec2", default=",".join(CODEC2_MODES),
                        help="comma-separated codec2 modes (bit/s), or 'none'")
    parser.add_argument("--clips", type=int, default=None, help="use at most N clips")
    parser.add_argument("--align", choices=("xcorr", "fixed"), default="xcorr",
                        help="xcorr: measure each output's delay; fixed: drop the 2-frame encoder "
                             "delay from our output (codec2 is always measured)")
    parser.add_argument("--json", type=Path, help="also write the results to this JSON file")
    parser.add_argument("--self-test", action="store_true",
                        help="check alignment and scoring with stand-in codecs of known delay")
    args = parser.parse_args(argv)

    rates = [r.strip() for r in args.rates.split(",") if r.strip()]
    unknown = [r for r in rates if r not in RATES]
    if unknown:
        parser.error(f"unknown rate(s) {','.join(unknown)}; choose from {','.join(RATES)}")
    modes = [] if args.codec2.strip() == "none" else [m.strip() for m in args.codec2.split(",") if m.strip()]

    still_missing = ensure_debian_packages(DEBIAN_PACKAGES)
    if still_missing:
        print(f"warning: could not install {' '.join(still_missing)}", file=sys.stderr)
    pesq_mod = ensure_pesq()
    clips = choose_clips(args.clips)
    if not clips:
        print("error: no speech clips found", file=sys.stderr)
        return 2
    if args.self_test:
        return self_test(clips, pesq_mod)

    module = import_codec() if rates else None
    results = []
    for key in rates:
        results.append(evaluate(key, ours(module, key), clips, pesq_mod,
                                ENCODER_DELAY if args.align == "fixed" else None))
    for mode in modes:
        results.append(evaluate(f"codec2 {mode}", codec2(mode), clips, pesq_mod, None))

    print("clips: " + ", ".join(f"{c.name} ({len(c.pcm) / SAMPLE_RATE:.1f} s)" for c in clips))
    print_table(results, clips)
    if args.json:
        payload = {
            "metric": "PESQ P.862 narrow-band MOS-LQO",
            "versions": {
                "_ostrel_mbe": getattr(module, "__version__", None),
                "pesq": importlib.metadata.version("pesq"),
                **{p: package_version(p) for p in DEBIAN_PACKAGES},
            },
            "clips": {c.name: round(len(c.pcm) / SAMPLE_RATE, 3) for c in clips},
            "results": {r.label: summary(r) for r in results},
        }
        args.json.write_text(json.dumps(payload, indent=2) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
