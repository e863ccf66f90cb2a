# SPDX-License-Identifier: GPL-2.0-or-later
"""Writes the committed seed corpus of the fuzz targets in tests/fuzz/corpus/.

Run from the repository with the module installed (python tests/fuzz/make_corpus.py).  The
seeds are wire frames of the bundled speech clip at each rate, a few of them with bit errors
(fixed seed), the speech itself as PCM, symbol-per-byte frames, one valid MbeParams record and
a handful of small WAV files.  Inputs of past findings sit beside them as regression_* files.  Each target's input layout is described at the top of its
source file.
"""

from __future__ import annotations

import io
import struct
import wave
from pathlib import Path

import numpy as np

import _ostrel_mbe as m
from ostrel_mbe import wav
from ostrel_mbe.__main__ import bundled_speech

HERE = Path(__file__).resolve().parent
RATES = [m.Rate.IMBE_7200X4400, m.Rate.IMBE_4400X4400, m.Rate.AMBEPLUS2_3600X2450, m.Rate.AMBEPLUS2_2450X2450]
FRAMES = 6
# Voiced speech: the clip's first half second is near silence.
FIRST_FRAME = 40
# (from, to) in the order of transcoder_fuzz.cpp's direction table.
DIRECTIONS = [(0, 1), (1, 0), (2, 3), (3, 2), (0, 2), (2, 0)]


def speech_frames(count: int) -> np.ndarray:
    return wav.split_frames(wav.load_pcm(bundled_speech()))[:FIRST_FRAME + count]


def encoded(rate, count: int) -> list[bytes]:
    enc = m.Vocoder(rate)
    return [enc.encode_pcm(f) for f in speech_frames(count)][FIRST_FRAME:]


def flipped(data: bytes, rng: np.random.Generator, flips: int, start: int) -> bytes:
    out = bytearray(data)
    for bit in rng.choice((len(out) - start) * 8, flips, replace=False):
        out[start + bit // 8] ^= 1 << (bit % 8)
    return bytes(out)


def symbols(frame: bytes) -> bytes:
    return bytes((b >> (6 - 2 * j)) & 3 for b in frame for j in range(4))


def soft_values(frames: bytes, rng: np.random.Generator) -> bytes:
    bits = np.unpackbits(np.frombuffer(frames, dtype=np.uint8)).astype(np.float32)
    confidence = rng.uniform(0.1, 4.0, bits.size).astype(np.float32)
    values = (2.0 * bits - 1.0) * confidence
    wrong = rng.random(bits.size) < 0.03
    values[wrong] = -0.3 * values[wrong]
    return values.astype("<f4").tobytes()


def wav_bytes(pcm: np.ndarray, rate: int, channels: int, width: int) -> bytes:
    buf = io.BytesIO()
    with wave.open(buf, "wb") as w:
        w.setnchannels(channels)
        w.setsampwidth(width)
        w.setframerate(rate)
        if width == 1:
            w.writeframes((pcm // 256 + 128).astype(np.uint8).tobytes())
        else:
            w.writeframes(pcm.astype("<i2").tobytes())
    return buf.getvalue()


def main() -> None:
    rng = np.random.default_rng(12)
    soft_rng = np.random.default_rng(21)  # its own, so the other seeds stay as they were
    seeds: dict[str, dict[str, bytes]] = {
        t: {} for t in ("decode_bits", "decode_soft", "transcoder", "live", "frames_params", "wav_reader")
    }
    for r in RATES:
        frames = b"".join(encoded(r, FRAMES))
        n = int(r)
        # Settings bytes: rate and enhancement on; then the standard noise generator and a repeat limit.
        seeds["decode_bits"][f"speech_{n}"] = bytes([n | 0x04, 0x00, 0x00]) + frames
        seeds["decode_bits"][f"speech_{n}_flipped"] = flipped(bytes([n | 0x4C, 0x83, 0x55]) + frames, rng, 12, 3)
        # Soft values: each wire bit's sign with a random confidence, a few of them wrong; the
        # second seed also has a NaN in its last frame.
        soft = soft_values(frames[: 3 * len(frames) // FRAMES], soft_rng)
        seeds["decode_soft"][f"speech_{n}"] = bytes([n | 0x04, 0x00, 0x00]) + soft
        soft_nan = bytearray(soft)
        soft_nan[-8:-4] = struct.pack("<f", float("nan"))
        seeds["decode_soft"][f"speech_{n}_nan"] = bytes([n | 0x44, 0x00, 0x21]) + bytes(soft_nan)
        seeds["live"][f"decoder_{n}"] = bytes([n | 0x04, 0x00, 1, 5, 17, 0, 40, 3, 9, 200]) + frames
        pcm = speech_frames(4)[FIRST_FRAME:].reshape(-1).astype("<i2").tobytes()
        seeds["live"][f"encoder_{n}"] = bytes([n, 0x80, 50, 1, 53, 0, 107, 7, 70, 3]) + pcm
    for i, (a, b) in enumerate(DIRECTIONS):
        frames = b"".join(encoded(RATES[a], FRAMES))
        seeds["transcoder"][f"direction_{i}"] = bytes([i]) + frames
        seeds["transcoder"][f"direction_{i}_flipped"] = flipped(bytes([i]) + frames, rng, 10, 1)
    full, half = encoded(RATES[0], 1)[0], encoded(RATES[2], 1)[0]
    seeds["frames_params"]["imbe_symbols"] = symbols(full)
    seeds["frames_params"]["imbe_symbols_flipped"] = bytes(s ^ (i % 23 == 0) for i, s in enumerate(symbols(full)))
    seeds["frames_params"]["ambe_symbols"] = symbols(half)
    amplitudes = np.linspace(100.0, 1.0, 20).astype("<f4").tobytes()
    seeds["frames_params"]["params_l20"] = struct.pack("<f", 0.2) + bytes([20, 0x3F]) + amplitudes
    seeds["frames_params"]["params_nan"] = struct.pack("<f", 0.2) + bytes([9, 0]) + b"\x00\x00\xc0\x7f" * 9
    speech = wav.load_pcm(bundled_speech())[8000:8400]
    seeds["wav_reader"]["mono_8k_16bit"] = wav_bytes(speech, 8000, 1, 2)
    seeds["wav_reader"]["stereo_16k_16bit"] = wav_bytes(np.repeat(speech, 2), 16000, 2, 2)
    seeds["wav_reader"]["mono_11k_8bit"] = wav_bytes(speech, 11025, 1, 1)
    seeds["wav_reader"]["truncated"] = wav_bytes(speech, 44100, 1, 2)[:300]
    for target, files in seeds.items():
        # Files named regression_* are inputs of past findings, kept beside the generated seeds.
        folder = HERE / "corpus" / target
        folder.mkdir(parents=True, exist_ok=True)
        for name, data in files.items():
            (folder / name).write_bytes(data)
        print(f"{target}: {len(files)} seeds, {sum(map(len, files.values()))} bytes")


if __name__ == "__main__":
    main()
