#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Encode and decode throughput through the Python module, one thread, at each rate.

Frames per second (and times real time, 50 frames being one second of speech) on recorded
speech: the bundled python/ostrel_mbe/data/speech_8k.wav when present, else an 8 kHz Asterisk
prompt, else a synthetic speech-like signal. The clip is cycled to the requested number of
frames. Three rows per rate:
  frame   `Vocoder.encode_pcm` / `decode_bits`, one call per frame, beside Debian's libcodec2
          (3200 bit/s) called through ctypes once per frame, as a Python user of it would;
  whole   `ostrel_mbe.encode` / `decode` of all the frames in one call, beside Codec2 looping
          over the frames in C (a few lines compiled at run time against libcodec2-dev);
  cli     the whole-buffer calls with the command line's settings (the decoder's standard
          formant weighting; the half rates' quantizer search).
Times are the process's CPU time (one thread), which a machine shared with other work
disturbs far less than the wall clock.  Every row, Codec2's included, is measured --repeat
times in turn; each figure is the median over the repeats, and each ratio the median of the
ratios within one repeat, so that a spell of load on a shared machine falls on both sides.
The Codec2 columns need libcodec2-1.0 (pulled in by libcodec2-dev or codec2; installed with
apt-get as root when missing); the C loop also needs a C compiler and libcodec2-dev.

    python bench/python_bench.py [--frames 2000] [--repeat 3] [--rates imbe7200,imbe4400,ambe3600,ambe2450] [--json out.json]
"""
from __future__ import annotations

import argparse
import ctypes
import ctypes.util
import importlib
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import wave
from pathlib import Path

import numpy as np

SAMPLE_RATE = 8000
FRAME = 160
FRAMES_PER_SECOND = SAMPLE_RATE // FRAME
WARMUP_FRAMES = 20

RATES = {
    "imbe7200": "IMBE_7200X4400",
    "imbe4400": "IMBE_4400X4400",
    "ambe3600": "AMBEPLUS2_3600X2450",
    "ambe2450": "AMBEPLUS2_2450X2450",
}
REPO = Path(__file__).resolve().parent.parent
BUNDLED = REPO / "python" / "ostrel_mbe" / "data" / "speech_8k.wav"
ASTERISK_PROMPTS = ("tt-weasels.wav", "cannot-complete-as-dialed.wav", "vm-tocallback.wav")
ASTERISK_DIRS = (Path("/usr/share/asterisk/sounds/en_US_f_Allison"),
                 Path("/usr/share/asterisk/sounds/en"))


def read_wav_8k(path: Path) -> np.ndarray | None:
    """Mono 16-bit 8 kHz WAV samples, or None for a missing file or any other format."""
    try:
        with wave.open(str(path), "rb") as w:
            if (w.getnchannels(), w.getsampwidth(), w.getframerate()) != (1, 2, SAMPLE_RATE):
                return None
            return np.frombuffer(w.readframes(w.getnframes()), dtype="<i2").astype(np.int16)
    except (wave.Error, EOFError, OSError):
        return None


def synthetic_speech(seconds: float = 4.0, seed: int = 7) -> np.ndarray:
    """Voiced syllables (gliding pulse train through two moving formant resonators) with noise
    bursts and pauses: enough like speech to exercise pitch, voicing and amplitude paths."""
    rng = np.random.default_rng(seed)
    n = int(seconds * SAMPLE_RATE)
    t = np.arange(n) / SAMPLE_RATE
    f0 = 120.0 + 30.0 * np.sin(2 * np.pi * 0.7 * t)
    phase = np.cumsum(2 * np.pi * f0 / SAMPLE_RATE)
    source = (np.diff(np.floor(phase / (2 * np.pi)), prepend=0.0) > 0).astype(np.float64)
    syllable = np.clip(np.sin(2 * np.pi * 3.0 * t), 0.0, None) ** 0.5
    voiced = source * syllable
    fricative = rng.standard_normal(n) * 0.05 * (np.sin(2 * np.pi * 3.0 * t + 2.5) > 0.9)
    x = voiced + fricative
    for centre, bandwidth in ((600.0, 80.0), (1500.0, 120.0)):
        r = np.exp(-np.pi * bandwidth / SAMPLE_RATE)
        y = np.zeros(n)
        for i in range(n):  # two-pole resonator with a slowly moving centre
            c = centre * (1.0 + 0.2 * np.sin(2 * np.pi * 1.3 * t[i]))
            a1 = 2 * r * np.cos(2 * np.pi * c / SAMPLE_RATE)
            y[i] = x[i] + a1 * (y[i - 1] if i else 0.0) - r * r * (y[i - 2] if i > 1 else 0.0)
        x = y
    return (x / np.max(np.abs(x)) * 12000.0).astype(np.int16)


def load_speech() -> tuple[str, np.ndarray]:
    pcm = read_wav_8k(BUNDLED)
    if pcm is not None:
        return str(BUNDLED.relative_to(REPO)), pcm
    for folder in ASTERISK_DIRS:
        for name in ASTERISK_PROMPTS:
            pcm = read_wav_8k(folder / name)
            if pcm is not None:
                return str(folder / name), pcm
    return "synthetic speech-like signal", synthetic_speech()


def load_codec2():
    """ctypes handle of libcodec2, installing Debian's package when missing; None if unavailable."""
    name = ctypes.util.find_library("codec2")
    if name is None and os.geteuid() == 0 and shutil.which("apt-get"):
        env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
        subprocess.run(["apt-get", "install", "-y", "-q", "libcodec2-1.0"], env=env, check=False,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        name = ctypes.util.find_library("codec2")
    if name is None:
        return None
    lib = ctypes.CDLL(name)
    lib.codec2_create.restype = ctypes.c_void_p
    lib.codec2_create.argtypes = [ctypes.c_int]
    lib.codec2_destroy.argtypes = [ctypes.c_void_p]
    lib.codec2_encode.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]
    lib.codec2_decode.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_char_p]
    return lib


def bench_codec2(lib, frames: list[np.ndarray]) -> dict:
    """Codec2 3200 (mode 0, 160 samples into 8 bytes) on the same frames."""
    enc, dec = lib.codec2_create(0), lib.codec2_create(0)
    try:
        out = np.zeros(FRAME, dtype=np.int16)
        encode, decode = lib.codec2_encode, lib.codec2_decode
        start = time.process_time()
        wire = []
        for f in frames:
            bits = ctypes.create_string_buffer(8)
            encode(enc, bits, f.ctypes.data)
            wire.append(bits.raw)
        encode_s = time.process_time() - start
        out_ptr = out.ctypes.data
        start = time.process_time()
        for b in wire:
            decode(dec, out_ptr, b)
        decode_s = time.process_time() - start
    finally:
        lib.codec2_destroy(enc)
        lib.codec2_destroy(dec)
    n = len(frames)
    return {"available": True, "frames": n, "frame_bytes": 8, "encode_fps": n / encode_s, "decode_fps": n / decode_s,
            "encode_us_per_frame": encode_s / n * 1e6, "decode_us_per_frame": decode_s / n * 1e6}


C_LOOP = r"""
#include <codec2/codec2.h>
void encode_all(const short* pcm, int frames, unsigned char* bits) {
    struct CODEC2* c = codec2_create(CODEC2_MODE_3200);
    for (int i = 0; i < frames; ++i) codec2_encode(c, bits + 8 * i, (short*)pcm + 160 * i);
    codec2_destroy(c);
}
void decode_all(const unsigned char* bits, int frames, short* pcm) {
    struct CODEC2* c = codec2_create(CODEC2_MODE_3200);
    for (int i = 0; i < frames; ++i) codec2_decode(c, pcm + 160 * i, bits + 8 * i);
    codec2_destroy(c);
}
"""


def load_codec2_loop():
    """Codec2 looping over a whole buffer in C, compiled now; None without cc or the header."""
    cc = shutil.which("cc")
    if cc is None or not Path("/usr/include/codec2/codec2.h").exists():
        return None
    folder = Path(tempfile.mkdtemp(prefix="codec2_loop_"))
    source, library = folder / "loop.c", folder / "loop.so"
    source.write_text(C_LOOP)
    built = subprocess.run([cc, "-O2", "-shared", "-fPIC", str(source), "-o", str(library), "-lcodec2"],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    if built.returncode != 0:
        return None
    lib = ctypes.CDLL(str(library))
    lib.encode_all.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_void_p]
    lib.decode_all.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_void_p]
    return lib


def bench_codec2_loop(lib, frames: list[np.ndarray]) -> dict:
    """Codec2 3200 over all the frames in one C call per direction."""
    pcm = np.ascontiguousarray(np.concatenate(frames))
    n = len(frames)
    bits = np.zeros(8 * n, dtype=np.uint8)
    out = np.zeros(FRAME * n, dtype=np.int16)
    start = time.process_time()
    lib.encode_all(pcm.ctypes.data, n, bits.ctypes.data)
    encode_s = time.process_time() - start
    start = time.process_time()
    lib.decode_all(bits.ctypes.data, n, out.ctypes.data)
    decode_s = time.process_time() - start
    return {"available": True, "frames": n, "frame_bytes": 8, "encode_fps": n / encode_s, "decode_fps": n / decode_s,
            "encode_us_per_frame": encode_s / n * 1e6, "decode_us_per_frame": decode_s / n * 1e6}


def cli_settings(package, key: str) -> tuple[dict, dict]:
    """Encoder and decoder keywords of the command line's settings at this rate."""
    encoder = {"quantizer_search": True} if key.startswith("ambe") else {}
    return encoder, {"formant_weighting": package.FormantWeighting.STANDARD}


def bench_whole(package, key: str, frames: list[np.ndarray], cli: bool) -> dict:
    """ostrel_mbe.encode and decode over all the frames in one call each."""
    try:
        enc_settings, dec_settings = cli_settings(package, key) if cli else ({}, {})
        pcm = np.ascontiguousarray(np.concatenate(frames))
        package.decode(package.encode(pcm[:WARMUP_FRAMES * FRAME], key), key)
        start = time.process_time()
        wire = package.encode(pcm, key, **enc_settings)
        encode_s = time.process_time() - start
        start = time.process_time()
        package.decode(wire, key, **dec_settings)
        decode_s = time.process_time() - start
    except (AttributeError, ValueError, TypeError) as exc:
        return {"available": False, "reason": str(exc)}
    n = len(frames) + 3  # whole frames in, and the three frames of the flush
    return {"available": True, "frames": n, "frame_bytes": len(wire) // n,
            "encode_fps": n / encode_s, "decode_fps": n / decode_s,
            "encode_us_per_frame": encode_s / n * 1e6, "decode_us_per_frame": decode_s / n * 1e6}


def frames_of(pcm: np.ndarray, count: int) -> list[np.ndarray]:
    """`count` contiguous 160-sample frames, cycling through the clip."""
    usable = pcm[: len(pcm) // FRAME * FRAME].reshape(-1, FRAME)
    return [np.ascontiguousarray(usable[i % len(usable)]) for i in range(count)]


def bench_rate(module, member: str, frames: list[np.ndarray]) -> dict:
    try:
        rate = getattr(module.Rate, member)
        warm = module.Vocoder(rate)
        # First calls build the shared tables and FFT plans; keep them out of the timing.
        for f in frames[:WARMUP_FRAMES]:
            warm.decode_bits(warm.encode_pcm(f))
        enc, dec = module.Vocoder(rate), module.Vocoder(rate)
        encode = enc.encode_pcm
        start = time.process_time()
        wire = [encode(f) for f in frames]
        encode_s = time.process_time() - start
        decode = dec.decode_bits
        start = time.process_time()
        for b in wire:
            decode(b)
        decode_s = time.process_time() - start
    except (AttributeError, ValueError) as exc:
        return {"available": False, "reason": str(exc)}
    n = len(frames)
    return {"available": True, "frames": n, "frame_bytes": len(wire[0]),
            "encode_fps": n / encode_s, "decode_fps": n / decode_s,
            "encode_us_per_frame": encode_s / n * 1e6, "decode_us_per_frame": decode_s / n * 1e6}


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--frames", type=int, default=2000, help="frames timed per direction and rate")
    parser.add_argument("--repeat", type=int, default=3, help="times every row is measured, in turn")
    parser.add_argument("--rates", default=",".join(RATES),
                        help="comma-separated rates out of " + ",".join(RATES))
    parser.add_argument("--json", type=Path, help="also write the results to this JSON file")
    args = parser.parse_args(argv)
    rates = [r.strip() for r in args.rates.split(",") if r.strip()]
    unknown = [r for r in rates if r not in RATES]
    if unknown:
        parser.error(f"unknown rate(s) {','.join(unknown)}; choose from {','.join(RATES)}")
    if args.frames < 1:
        parser.error("--frames must be at least 1")
    if args.repeat < 1:
        parser.error("--repeat must be at least 1")

    try:
        module = importlib.import_module("_ostrel_mbe")
    except ImportError as exc:
        print(f"error: _ostrel_mbe is not importable ({exc}); run `pip install .` first",
              file=sys.stderr)
        return 2

    try:
        package = importlib.import_module("ostrel_mbe")
    except ImportError:
        package = None
    source, pcm = load_speech()
    frames = frames_of(pcm, args.frames)
    print(f"speech: {source} ({len(pcm) / SAMPLE_RATE:.2f} s, cycled to {args.frames} frames); "
          f"_ostrel_mbe {getattr(module, '__version__', '?')}, Python {sys.version.split()[0]}, one thread")
    lib = load_codec2()
    loop = load_codec2_loop() if lib is not None else None
    print(f"{'rate':<16} {'bytes':>5} {'encode f/s':>11} {'x RT':>7} {'x c2':>6} {'decode f/s':>11} {'x RT':>7} {'x c2':>6}")
    # Each repeat measures every row once: (key, result, the yardstick's key) in order.
    repeats = []
    for _ in range(args.repeat):
        rows = []
        if lib is not None:
            rows.append(("codec2_3200", bench_codec2(lib, frames), "codec2_3200"))
        if loop is not None:
            rows.append(("codec2 C loop", bench_codec2_loop(loop, frames), "codec2 C loop"))
        for key in rates:
            rows.append((key, bench_rate(module, RATES[key], frames), "codec2_3200"))
            if package is not None and hasattr(package, "encode"):
                rows.append((key + " whole", bench_whole(package, key, frames, cli=False), "codec2 C loop"))
                rows.append((key + " cli", bench_whole(package, key, frames, cli=True), "codec2 C loop"))
        repeats.append(rows)
    results = {}
    order = [key for key, _, _ in repeats[0] if not key.startswith("codec2")]
    order += [key for key, _, _ in repeats[0] if key.startswith("codec2")]
    for key in order:
        runs = []  # (this row's result, its yardstick's result) per repeat
        for rows in repeats:
            by_key = {k: (result, yardstick) for k, result, yardstick in rows}
            runs.append((by_key[key][0], by_key[by_key[key][1]][0]))
        r = dict(runs[0][0])
        if all(run["available"] for run, _ in runs):
            for field in ("encode_fps", "decode_fps", "encode_us_per_frame", "decode_us_per_frame"):
                r[field] = statistics.median(run[field] for run, _ in runs)
            for direction in ("encode", "decode"):
                r[f"{direction}_x_codec2"] = statistics.median(
                    run[f"{direction}_fps"] / c2[f"{direction}_fps"] for run, c2 in runs)
        results[key] = r
        if not r["available"]:
            print(f"{key:<16} {'n/a':>5}  ({r['reason']})")
            continue
        enc_ratio = f"{r['encode_x_codec2']:>6.2f}" if "encode_x_codec2" in r else f"{'n/a':>6}"
        dec_ratio = f"{r['decode_x_codec2']:>6.2f}" if "decode_x_codec2" in r else f"{'n/a':>6}"
        print(f"{key:<16} {r['frame_bytes']:>5} {r['encode_fps']:>11.0f} "
              f"{r['encode_fps'] / FRAMES_PER_SECOND:>7.1f} {enc_ratio} {r['decode_fps']:>11.0f} "
              f"{r['decode_fps'] / FRAMES_PER_SECOND:>7.1f} {dec_ratio}")
    print("x RT: times faster than real time (50 frames of 20 ms per second of speech); "
          "x c2: over Codec2 3200 in this run, called once per frame through ctypes for the frame rows "
          "and looping in C for the whole and cli rows" + ("" if lib is not None else " (libcodec2 not found)"))
    if args.json:
        args.json.write_text(json.dumps({"speech": source, "results": results}, indent=2) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
