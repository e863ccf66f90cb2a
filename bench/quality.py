#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Objective speech quality: narrow-band PESQ (ITU-T P.862), STOI and DNSMOS P.808 of every rate and setting.

Every chosen 8 kHz speech clip goes through a list of coders, each producing decoded audio: a
fresh encoder/decoder pair of `_ostrel_mbe.Vocoder` for every rate and every setting that changes
what one hears (post-filter mode x formant weighting, the half-rate synthesis variant, and the
encoder's pitch tracker), and, for comparison, command-line coders used as black boxes: codec2
(c2enc/c2dec) at 3200, 2400 and 1600 bit/s, Speex narrowband (speexenc/speexdec) at quality 1 and
2 (3950 and 5950 bit/s) and Opus (opusenc/opusdec) narrowband at 6 kbit/s. Each output is
time-aligned with its input and scored: PESQ and STOI against the input, and DNSMOS (a non-intrusive
model that judges the output alone; its P.808 score, on the output resampled to the 16 kHz the model
takes), which does not reward the waveform match that a vocoder does not keep.

Installs what it needs when missing: the Debian packages codec2, codec2-examples,
asterisk-core-sounds-en-wav, speex and opus-tools (apt-get, as root) and PyPI's pesq, pystoi and
speechmos (with librosa and onnxruntime, which it imports; its models are in the package) into this
interpreter's environment.

    python bench/quality.py [--rates imbe7200,...] [--grid full|default] [--clips N] [--json out.json]
    python bench/quality.py --clip-set other|third ...           # 30 other prompts instead
    python bench/quality.py --loss-budget [--clips N]            # adds bench/loss_budget.py's rows
    python bench/quality.py --from-json out.json --markdown     # the tables of a saved run
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
import hashlib
import itertools
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
# Voice information bit/s of each rate.
RATE_BITS = {"imbe7200": 4400, "imbe4400": 4400, "ambe3600": 2450, "ambe2450": 2450}
# Decoder and encoder settings that change what one hears. The first value of each is the
# library's default; the command line decodes with the standard formant weighting.
ENHANCEMENTS = ("classical", "none")          # EnhancementMode: post-filter chain or none
WEIGHTINGS = ("compat", "standard")           # FormantWeighting of the spectral enhancement
SYNTHS = ("ambe_plus", "baseline")            # AmbePlus2Synth, half rates only
PITCH_TRACKERS = ("std", "pyin")              # encoder: the standard's tracker or PYIN
QUANTIZER_SEARCHES = ("plain", "search")       # half-rate encoder: nearest entries or reconstruction search
CODEC2_MODES = ("3200", "2400", "1600")
# Bridges between the codecs: encoded at the first rate, transcoded to the second, decoded there.
TRANSCODES = ("imbe7200:ambe3600", "ambe3600:imbe7200")
SPEEX_QUALITIES = {"1": 3950, "2": 5950}      # narrowband quality -> bit/s
OPUS_KBPS = ("6",)
# libopus encoder request OPUS_SET_BANDWIDTH (4008) with OPUS_BANDWIDTH_NARROWBAND (1101).
OPUS_NARROWBAND_CTL = "4008=1101"
DEBIAN_PACKAGES = ("codec2", "codec2-examples", "asterisk-core-sounds-en-wav", "speex", "opus-tools")
PYPI_PACKAGES = {"pesq": "pesq", "pystoi": "pystoi", "speechmos": "speechmos", "librosa": "librosa",
                 "onnxruntime": "onnxruntime"}  # module -> package
# DNSMOS's models take 16 kHz audio.
DNSMOS_RATE = 16000

# Clip choice. codec2-examples also ships modem signals, sine sweeps, noisy off-air recordings and
# already-coded speech; these are its clean studio speech files (8 kHz raw), used by name.
CODEC2_CLIPS = ("big_dog", "cross", "forig", "hts1a", "hts2a", "morig")
# Asterisk prompts include tones and beeps. Names are matched case-insensitively as substrings.
ASTERISK_SKIP = ("tone", "beep", "music", "silence", "dtmf", "tt-monkeys", "conf-", "ring")
ASTERISK_CLIPS = 6
ASTERISK_MIN_S, ASTERISK_MAX_S = 2.0, 5.0
# The second clip set (--clip-set other): prompts that are not among the benchmark's.
OTHER_CLIPS = 30
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


def ensure_pypi(module: str):
    """Imports `module`, installing its PyPI package into this interpreter's environment when absent."""
    try:
        return importlib.import_module(module)
    except ImportError:
        pass
    print(f"installing {PYPI_PACKAGES[module]} from PyPI", file=sys.stderr)
    subprocess.run([sys.executable, "-m", "pip", "install", "-q", PYPI_PACKAGES[module]], check=True)
    importlib.invalidate_caches()
    return importlib.import_module(module)


class P808:
    """DNSMOS's P.808 model alone (speechmos bundles it beside the SIG/BAK/OVRL model, which
    costs 40 times as much and is not used here), scored as speechmos.dnsmos scores a clip: the
    16 kHz audio repeated up to 9.01 s, then the mean over windows of 9.01 s in 1 s hops."""

    def __init__(self, dnsmos) -> None:
        ort = dnsmos.ort
        options = ort.SessionOptions()
        # One thread that sleeps while it waits: the default spinning threads crawl on a busy machine.
        options.intra_op_num_threads = 1
        options.inter_op_num_threads = 1
        options.add_session_config_entry("session.intra_op.allow_spinning", "0")
        model = Path(dnsmos.__file__).parent / "dnsmos_models" / "model_v8.onnx"
        self.session = ort.InferenceSession(str(model), options, providers=["CPUExecutionProvider"])
        self.melspec = dnsmos.DNSMOS.audio_melspec
        self.input_seconds = dnsmos.INPUT_LENGTH

    def score(self, audio: np.ndarray) -> float:
        length = int(self.input_seconds * DNSMOS_RATE)
        while len(audio) < length:
            audio = np.append(audio, audio)
        hops = int(np.floor(len(audio) / DNSMOS_RATE) - self.input_seconds) + 1
        scores = []
        for hop in range(hops):
            segment = audio[hop * DNSMOS_RATE: hop * DNSMOS_RATE + length]
            if len(segment) < length:
                continue
            features = np.asarray(self.melspec(None, audio=segment[:-160]), dtype=np.float32)[np.newaxis]
            scores.append(float(self.session.run(None, {"input_1": features})[0][0][0]))
        return float(np.mean(scores))


def dnsmos_module() -> P808 | None:
    """speechmos's P.808 model, installing speechmos and the modules it imports; none (with a
    warning) when that fails, and the P.808 column is then n/a."""
    try:
        for module in ("librosa", "onnxruntime", "speechmos"):
            ensure_pypi(module)
        return P808(importlib.import_module("speechmos.dnsmos"))
    except (ImportError, OSError, subprocess.CalledProcessError) as exc:
        print(f"warning: DNSMOS unavailable ({exc}); P.808 is reported as n/a", file=sys.stderr)
        return None


def _pypi_version(package: str) -> str | None:
    try:
        return importlib.metadata.version(package)
    except importlib.metadata.PackageNotFoundError:
        return None


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


def usable_asterisk_clips() -> list[Clip]:
    """Every prompt of 2-5 s, name-sorted (files reached through several links counted once)."""
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
    return usable


def asterisk_clips(count: int) -> list[Clip]:
    """`count` prompts of 2-5 s, evenly spaced through the name-sorted list of one voice."""
    usable = usable_asterisk_clips()
    if len(usable) <= count:
        return usable
    step = len(usable) / count
    return [usable[int(i * step + step / 2)] for i in range(count)]


def other_clips(first: int) -> list[Clip]:
    """Sets for telling apart changes that the benchmark's 12 clips cannot: every fourth of the
    usable prompts that are not among the benchmark's, in name order, from the `first`th, the
    first OTHER_CLIPS of them (from the 0th: "other", 89.5 s; from the 2nd: "third", disjoint)."""
    chosen = {c.name for c in asterisk_clips(ASTERISK_CLIPS)}
    return [c for c in usable_asterisk_clips() if c.name not in chosen][first::4][:OTHER_CLIPS]


# --clip-set: the first of every fourth remaining prompt each set starts from.
OTHER_SETS = {"other": 0, "third": 2}


def choose_clips(limit: int | None, clip_set: str = "bench") -> list[Clip]:
    """Both sources interleaved, so a small --clips still draws from each; or another set."""
    if clip_set in OTHER_SETS:
        return other_clips(OTHER_SETS[clip_set])[:limit]
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
# Coders: each maps int16 PCM to decoded int16 PCM (unaligned), or raises Unavailable.


class Unavailable(Exception):
    """The codec or rate cannot run here (not built, not implemented, tool missing)."""


@dataclass
class Coder:
    """One row of the results: a named way from input PCM to decoded PCM."""
    label: str
    family: str                      # "ostrel_mbe", "ostrel_mbe transcode", "codec2", "speex", ...
    bits_per_second: int | None      # voice information rate
    settings: dict[str, str]
    run: Callable[[np.ndarray], np.ndarray]


@dataclass(frozen=True)
class OurSettings:
    rate: str
    enhancement: str = ENHANCEMENTS[0]
    weighting: str = WEIGHTINGS[0]
    synth: str | None = None         # half rates only
    pitch: str = PITCH_TRACKERS[0]
    search: str | None = None        # half rates only

    @property
    def label(self) -> str:
        parts = [self.enhancement, self.weighting] + ([self.synth] if self.synth else []) + [self.pitch]
        parts += [self.search] if self.search else []
        return f"{self.rate} {'/'.join(parts)}"

    def as_dict(self) -> dict[str, str]:
        d = {"rate": self.rate, "enhancement": self.enhancement, "formant_weighting": self.weighting,
             "pitch": self.pitch}
        if self.synth:
            d["ambe_plus2_synth"] = self.synth
        if self.search:
            d["quantizer_search"] = self.search
        return d


def settings_grid(rates: list[str], grid: str) -> list[OurSettings]:
    """full: every combination at every rate; default: the library's defaults and the command
    line's (standard weighting) at every rate."""
    out = []
    for rate in rates:
        synths = SYNTHS if rate.startswith("ambe") else (None,)
        searches = QUANTIZER_SEARCHES if rate.startswith("ambe") else (None,)
        if grid == "default":
            out += [OurSettings(rate, weighting=w, synth=synths[0], search=q)
                    for q in searches for w in WEIGHTINGS]
            continue
        for pitch, synth, search, enh, weighting in itertools.product(PITCH_TRACKERS, synths, searches,
                                                                      ENHANCEMENTS, WEIGHTINGS):
            out.append(OurSettings(rate, enh, weighting, synth, pitch, search))
    return out


class OurCodec:
    """The `_ostrel_mbe` coders. Encoding depends only on the rate and the pitch tracker, so each
    clip is encoded once per pair and decoded once per decoder setting."""

    def __init__(self, module) -> None:
        self.module = module
        self.encoded: dict[tuple[str, str, str | None, bytes], list[bytes]] = {}
        # Seconds spent in encode_pcm per (rate, pitch tracker, quantizer search), all clips.
        self.encode_seconds: dict[tuple[str, str, str | None], float] = {}

    def _member(self, cls: str, name: str):
        try:
            return getattr(getattr(self.module, cls), name.upper())
        except AttributeError as exc:
            raise Unavailable(f"{cls}.{name.upper()} not in this module") from exc

    def _encode(self, pcm: np.ndarray, s: OurSettings, rate) -> list[bytes]:
        key = (s.rate, s.pitch, s.search, hashlib.blake2b(pcm.tobytes(), digest_size=16).digest())
        if key not in self.encoded:
            enc = self.module.Vocoder(rate)
            enc.set_pyin_pitch(s.pitch == "pyin")
            if s.search is not None:
                enc.set_quantizer_search(s.search == "search")
            # Two more frames of silence flush the encoder delay out.
            frames = -(-(len(pcm) + ENCODER_DELAY) // FRAME)
            padded = np.zeros(frames * FRAME, dtype=np.int16)
            padded[: len(pcm)] = pcm
            start = time.perf_counter()
            self.encoded[key] = [enc.encode_pcm(padded[i * FRAME:(i + 1) * FRAME]) for i in range(frames)]
            cost = key[:3]
            self.encode_seconds[cost] = self.encode_seconds.get(cost, 0.0) + time.perf_counter() - start
        return self.encoded[key]

    def coder(self, s: OurSettings) -> Coder:
        def run(pcm: np.ndarray) -> np.ndarray:
            if self.module is None:
                raise Unavailable("_ostrel_mbe not importable")
            try:
                rate = getattr(self.module.Rate, RATES[s.rate])
                # Separate channels: a channel's encoder and decoder share its quantizer state.
                dec = self.module.Vocoder(rate)
                dec.set_enhancement(self._member("EnhancementMode", s.enhancement))
                if s.weighting != WEIGHTINGS[0]:
                    dec.set_formant_weighting(self._member("FormantWeighting", s.weighting))
                if s.synth is not None:
                    dec.set_ambe_plus2_synth(self._member("AmbePlus2Synth", s.synth))
                bits = self._encode(pcm, s, rate)
                return np.concatenate([dec.decode_bits(b) for b in bits])
            except (AttributeError, ValueError) as exc:
                raise Unavailable(str(exc)) from exc
        return Coder(s.label, "ostrel_mbe", RATE_BITS[s.rate], s.as_dict(), run)


    def transcoded(self, source: str, target: str, weighting: str, search: str | None = None) -> Coder:
        """Encoded at `source`, transcoded frame by frame to `target` without PCM, decoded there
        with the library's other defaults; `search` (into a half rate) sets the transcoder's
        quantizer search, plain or search."""
        def run(pcm: np.ndarray) -> np.ndarray:
            if self.module is None:
                raise Unavailable("_ostrel_mbe not importable")
            try:
                src, dst = (getattr(self.module.Rate, RATES[r]) for r in (source, target))
                bridge = self.module.Transcoder(src, dst)
                if search is not None:
                    bridge.set_quantizer_search(search == "search")
                dec = self.module.Vocoder(dst)
                if weighting != WEIGHTINGS[0]:
                    dec.set_formant_weighting(self._member("FormantWeighting", weighting))
                bits = self._encode(pcm, OurSettings(source), src)
                return np.concatenate([dec.decode_bits(bridge.transcode(b)) for b in bits])
            except (AttributeError, ValueError) as exc:
                raise Unavailable(str(exc)) from exc
        settings = {"rate": target, "transcoded_from": source, "formant_weighting": weighting}
        label = f"{source}->{target} {ENHANCEMENTS[0]}/{weighting}"
        if search is not None:
            settings["quantizer_search"] = search
            label += f"/{search}"
        return Coder(label, "ostrel_mbe transcode", min(RATE_BITS[source], RATE_BITS[target]), settings, run)


def command_line_coder(label: str, family: str, bits: int | None, settings: dict[str, str],
                       tools: tuple[str, str], commands: Callable[..., list[list[str]]]) -> Coder:
    """A black-box coder run as two commands on files: commands(encoder, decoder, src, mid, dst)
    gives the command lines; src and dst hold 16-bit little-endian 8 kHz mono raw PCM."""
    def run(pcm: np.ndarray) -> np.ndarray:
        paths = [shutil.which(t) for t in tools]
        if None in paths:
            raise Unavailable(f"{'/'.join(tools)} not found")
        with tempfile.TemporaryDirectory(prefix="ostrel_quality_") as tmp:
            src, mid, dst = (Path(tmp) / n for n in ("in.raw", "coded.bin", "out.raw"))
            np.asarray(pcm, dtype="<i2").tofile(src)
            for cmd in commands(*paths, str(src), str(mid), str(dst)):
                r = subprocess.run(cmd, capture_output=True, check=False)
                if r.returncode != 0:
                    raise Unavailable(f"{Path(cmd[0]).name} failed: "
                                      f"{r.stderr.decode(errors='replace').strip()[:200]}")
            return np.fromfile(dst, dtype="<i2").astype(np.int16)
    return Coder(label, family, bits, settings, run)


def codec2(mode: str) -> Coder:
    return command_line_coder(
        f"codec2 {mode}", "codec2", int(mode), {"mode": mode}, ("c2enc", "c2dec"),
        lambda enc, dec, src, mid, dst: [[enc, mode, src, mid], [dec, mode, mid, dst]])


def speex(quality: str) -> Coder:
    return command_line_coder(
        f"speex nb q{quality}", "speex", SPEEX_QUALITIES[quality], {"mode": "narrowband", "quality": quality},
        ("speexenc", "speexdec"),
        lambda enc, dec, src, mid, dst: [
            [enc, "--narrowband", "--quality", quality, "--rate", "8000", "--le", "--16bit", src, mid],
            [dec, "--mono", "--rate", "8000", mid, dst]])


def opus(kbps: str) -> Coder:
    return command_line_coder(
        f"opus nb {kbps}k", "opus", int(float(kbps) * 1000),
        {"bandwidth": "narrowband", "bitrate": f"{kbps} kbit/s", "mode": "hard-cbr"}, ("opusenc", "opusdec"),
        lambda enc, dec, src, mid, dst: [
            [enc, "--quiet", "--raw", "--raw-rate", "8000", "--raw-chan", "1", "--bitrate", kbps, "--hard-cbr",
             "--set-ctl-int", OPUS_NARROWBAND_CTL, src, mid],
            [dec, "--quiet", "--rate", "8000", mid, dst]])


# ---------------------------------------------------------------------------------------------
# Scoring


@dataclass
class Metrics:
    """The scoring modules: pesq (P.862 narrow-band MOS-LQO), pystoi (STOI, 0..1) and speechmos's
    P.808 model (none when not installable)."""
    pesq: object
    stoi: object
    dnsmos: object | None = None


@dataclass
class Result:
    coder: Coder
    pesq: dict[str, float] = field(default_factory=dict)
    stoi: dict[str, float] = field(default_factory=dict)
    p808: dict[str, float] = field(default_factory=dict)
    delay: int | None = None
    clip_delays: dict[str, int] = field(default_factory=dict)
    unavailable: str | None = None
    seconds: float = 0.0


def score_pesq(metrics: Metrics, ref: np.ndarray, deg: np.ndarray) -> float:
    try:
        return float(metrics.pesq.pesq(SAMPLE_RATE, ref.astype(np.float32), deg.astype(np.float32), "nb"))
    except Exception as exc:  # pesq raises its own error types (no utterances, too short)
        print(f"warning: PESQ failed: {exc}", file=sys.stderr)
        return math.nan


def score_stoi(metrics: Metrics, ref: np.ndarray, deg: np.ndarray) -> float:
    try:
        return float(metrics.stoi.stoi(ref.astype(np.float64), deg.astype(np.float64), SAMPLE_RATE, extended=False))
    except Exception as exc:  # too short once silent frames are dropped
        print(f"warning: STOI failed: {exc}", file=sys.stderr)
        return math.nan


def score_p808(metrics: Metrics, deg: np.ndarray) -> float:
    """DNSMOS P.808 of the output alone, resampled from 8 to 16 kHz (NaN without speechmos)."""
    if metrics.dnsmos is None:
        return math.nan
    import soxr
    x = soxr.resample(deg.astype(np.float64) / 32768.0, SAMPLE_RATE, DNSMOS_RATE)
    try:
        return metrics.dnsmos.score(np.clip(x, -1.0, 1.0).astype(np.float32))
    except Exception as exc:  # an all-silent output
        print(f"warning: DNSMOS failed: {exc}", file=sys.stderr)
        return math.nan


def evaluate(coder: Coder, clips: list[Clip], metrics: Metrics, fixed_delay: int | None) -> Result:
    """Scores every clip; a coder's delay is constant, so one delay (the best over all clips
    together unless fixed) aligns every output. Per-clip best lags are kept for diagnosis."""
    result = Result(coder)
    start = time.perf_counter()
    outputs = []
    for clip in clips:
        try:
            outputs.append(coder.run(clip.pcm))
        except Unavailable as exc:
            result.unavailable = str(exc)
            return result
    curves = [delay_curve(clip.pcm, out) for clip, out in zip(clips, outputs)]
    for clip, curve in zip(clips, curves):
        result.clip_delays[clip.name] = int(np.argmax(curve))
    result.delay = fixed_delay if fixed_delay is not None else int(np.argmax(np.sum(curves, axis=0)))
    for clip, out in zip(clips, outputs):
        aligned = align(clip.pcm, out, result.delay)
        result.pesq[clip.name] = score_pesq(metrics, clip.pcm, aligned)
        result.stoi[clip.name] = score_stoi(metrics, clip.pcm, aligned)
        result.p808[clip.name] = score_p808(metrics, aligned)
    result.seconds = time.perf_counter() - start
    print(f"{coder.label}: {len(clips)} clips in {result.seconds:.1f} s", file=sys.stderr)
    return result


def _stats(scores: dict[str, float]) -> dict:
    valid = [v for v in scores.values() if not math.isnan(v)]
    return {
        "clips": len(valid),
        "mean": statistics.fmean(valid) if valid else None,
        "min": min(valid) if valid else None,
        "per_clip": scores,
    }


def summary(r: Result) -> dict:
    return {
        "family": r.coder.family,
        "bits_per_second": r.coder.bits_per_second,
        "settings": r.coder.settings,
        "available": r.unavailable is None,
        "reason": r.unavailable,
        "pesq": _stats(r.pesq),
        "stoi": _stats(r.stoi),
        "p808": _stats(r.p808),
        "delay": r.delay,
        "per_clip_best_delay": r.clip_delays,
        "seconds": round(r.seconds, 2),
    }


def _p808(s: dict) -> float | None:
    """Mean DNSMOS P.808 of a summary (none in runs saved before it was scored)."""
    return s.get("p808", {}).get("mean")


def _fmt(value: float | None, digits: int = 3) -> str:
    return "n/a" if value is None else f"{value:.{digits}f}"


def print_table(results: dict[str, dict], clip_count: int, seconds: float) -> None:
    print(f"PESQ narrow-band MOS-LQO, STOI and DNSMOS P.808 over {clip_count} clips ({seconds:.1f} s of speech)")
    print(f"{'coder':<42} {'bit/s':>5} {'clips':>5} {'PESQ':>6} {'min':>6} {'STOI':>6} {'min':>6} {'P.808':>6} "
          f"{'delay':>6}")
    for label, s in results.items():
        if not s["available"] or s["pesq"]["mean"] is None:
            print(f"{label:<42} {'n/a':>5}  ({s['reason'] or 'no valid score'})")
            continue
        print(f"{label:<42} {s['bits_per_second'] or '':>5} {s['pesq']['clips']:>5} "
              f"{_fmt(s['pesq']['mean']):>6} {_fmt(s['pesq']['min']):>6} "
              f"{_fmt(s['stoi']['mean']):>6} {_fmt(s['stoi']['min']):>6} {_fmt(_p808(s)):>6} {s['delay']:>6}")
    print("ours: RATE ENHANCEMENT/WEIGHTING[/SYNTH]/PITCH[/QUANTIZER]; delay: samples dropped from the start of each "
          "decoder output to align it with its input")


def print_encode_cost(seconds: dict[tuple[str, str, str | None], float]) -> None:
    """encode_pcm time per rate and pitch tracker, with the quantizer search against without it
    (wall time through Python, so a ratio rather than the library's own cost)."""
    for (rate, pitch, search), t in seconds.items():
        ratio = ""
        if search == "search" and (rate, pitch, "plain") in seconds:
            ratio = f", {t / seconds[(rate, pitch, 'plain')]:.2f}x plain"
        print(f"encode {rate} {pitch}{'/' + search if search else ''}: {t:.2f} s{ratio}")


def print_markdown(results: dict[str, dict]) -> None:
    """Mean PESQ-NB / STOI / P.808 as Markdown: ours with one row per rate, synthesis variant and pitch
    tracker and one column per post-filter mode and formant weighting; then the other coders."""
    ok = {k: s for k, s in results.items() if s["available"] and s["pesq"]["mean"] is not None}
    columns = [(e, w) for e in ENHANCEMENTS for w in WEIGHTINGS]
    rows: dict[tuple[str, str, str], dict[tuple[str, str], dict]] = {}
    for s in ok.values():
        if s["family"] == "ostrel_mbe":
            st = s["settings"]
            row = (st["rate"], st.get("ambe_plus2_synth", ""), st["pitch"], st.get("quantizer_search", ""))
            rows.setdefault(row, {})[(st["enhancement"], st["formant_weighting"])] = s
    if rows:
        print("| rate | half-rate synthesis | pitch | quantizer | "
              + " | ".join(f"{e} / {w}" for e, w in columns) + " |")
        print("|---|---|---|---|" + "---:|" * len(columns))
        for (rate, synth, pitch, search), cells in rows.items():
            text = [f"{_fmt(c['pesq']['mean'], 2)} / {_fmt(c['stoi']['mean'], 3)} / {_fmt(_p808(c), 2)}" if c else ""
                    for c in (cells.get(col) for col in columns)]
            print(f"| {rate} | {synth} | {pitch} | {search} | " + " | ".join(text) + " |")
        print()
    print("| coder | bit/s | PESQ-NB | STOI | P.808 |")
    print("|---|---:|---:|---:|---:|")
    for label, s in ok.items():
        if s["family"] != "ostrel_mbe":
            print(f"| {label} | {s['bits_per_second'] or ''} | {_fmt(s['pesq']['mean'], 2)} | "
                  f"{_fmt(s['stoi']['mean'], 3)} | {_fmt(_p808(s), 2)} |")


# ---------------------------------------------------------------------------------------------


def _stand_in(label: str, fn: Callable[[np.ndarray], np.ndarray]) -> Coder:
    return Coder(label, "stand-in", None, {}, fn)


def self_test(clips: list[Clip], metrics: Metrics) -> int:
    """Alignment and scoring checked on stand-in codecs whose delay is known."""
    failures = 0
    for true_delay in (0, ENCODER_DELAY, 437):
        def delayed(pcm, d=true_delay):
            return np.concatenate([np.zeros(d, dtype=np.int16), pcm, np.zeros(FRAME, dtype=np.int16)])
        r = evaluate(_stand_in(f"delay {true_delay}", delayed), clips, metrics, None)
        s = summary(r)
        ok = (r.delay == true_delay and all(d == true_delay for d in r.clip_delays.values())
              and s["pesq"]["min"] is not None and s["pesq"]["min"] > 4.4
              and s["stoi"]["min"] is not None and s["stoi"]["min"] > 0.99)
        failures += not ok
        print(f"self-test delay {true_delay:>3}: measured {r.delay}, per clip "
              f"{sorted(set(r.clip_delays.values()))}, PESQ min {_fmt(s['pesq']['min'])}, "
              f"STOI min {_fmt(s['stoi']['min'])} {'ok' if ok else 'FAIL'}")
    # Phase-incoherent stand-in for a parametric coder: same envelope, different waveform.
    rng = np.random.default_rng(1)
    def noisy(pcm, d=ENCODER_DELAY):
        x = pcm.astype(np.float64)
        env = _envelope(x, 80)
        noise = rng.standard_normal(len(x)) * env * 0.3
        y = np.concatenate([np.zeros(d), x * 0.8 + noise])
        return np.clip(y, -32768, 32767).astype(np.int16)
    r = evaluate(_stand_in("noisy", noisy), clips, metrics, None)
    s = summary(r)
    ok = abs(r.delay - ENCODER_DELAY) <= 8 and s["stoi"]["mean"] is not None and s["stoi"]["mean"] < 0.99
    failures += not ok
    print(f"self-test noisy delay {ENCODER_DELAY}: measured {r.delay}, per clip "
          f"{sorted(set(r.clip_delays.values()))}, STOI mean {_fmt(s['stoi']['mean'])} "
          f"{'ok' if ok else 'FAIL'}")
    # The Vocoder path (framing, flush, encoder delay, settings, unavailable rates) with a
    # stand-in module whose wire frame is the PCM of two frames earlier.
    fake = _stand_in_module()
    ours = OurCodec(fake)
    grid = settings_grid(list(RATES), "full")
    for key in RATES:
        for fixed in (None, ENCODER_DELAY):
            # The library default and the most changed setting of each rate.
            for s_ in (grid[[g.rate for g in grid].index(key)], [g for g in grid if g.rate == key][-1]):
                r = evaluate(ours.coder(s_), clips, metrics, fixed)
                s = summary(r)
                if key.startswith("ambe"):
                    ok = r.unavailable is not None
                    outcome = f"n/a ({r.unavailable})"
                else:
                    ok = (r.delay == ENCODER_DELAY and s["pesq"]["min"] is not None and s["pesq"]["min"] > 4.4
                          and fake.applied[-1] == s_.as_dict())
                    outcome = f"delay {r.delay}, PESQ min {_fmt(s['pesq']['min'])}"
                failures += not ok
                mode = "fixed" if fixed is not None else "xcorr"
                print(f"self-test stand-in {s_.label} ({mode}): {outcome} {'ok' if ok else 'FAIL'}")
    # Every rate and setting is in the full grid exactly once: 2 x 2 x 2 at the full rates, x 2
    # synthesis variants x 2 quantizer searches at the half rates.
    labels = [g.label for g in grid]
    ok = len(labels) == len(set(labels)) == 2 * 8 + 2 * 32
    failures += not ok
    print(f"self-test grid: {len(labels)} settings {'ok' if ok else 'FAIL'}")
    print("self-test " + ("passed" if not failures else f"FAILED ({failures})"))
    return 1 if failures else 0


def _stand_in_module():
    """Mimics `_ostrel_mbe`: full rates are a pure 2-frame delay, half rates raise ValueError.
    Each decoder records the settings it was given in `applied`, in the benchmark's terms."""
    import types
    from collections import deque

    def enum(name, members):
        return type(name, (), {m.upper(): f"{name}.{m}" for m in members})

    module = types.SimpleNamespace(applied=[])
    module.EnhancementMode = enum("EnhancementMode", ENHANCEMENTS)
    module.FormantWeighting = enum("FormantWeighting", WEIGHTINGS)
    module.AmbePlus2Synth = enum("AmbePlus2Synth", SYNTHS)

    class Rate:
        IMBE_7200X4400, IMBE_4400X4400 = "imbe7200", "imbe4400"
        AMBEPLUS2_3600X2450, AMBEPLUS2_2450X2450 = "ambe3600", "ambe2450"

    class Vocoder:
        def __init__(self, rate):
            if rate.startswith("ambe"):
                raise ValueError("rate not available")
            self.queue = deque([np.zeros(FRAME, dtype=np.int16)] * 2)
            self.settings = {"rate": rate, "enhancement": "classical", "formant_weighting": "compat",
                             "pitch": "std"}
            self.pitch = "std"

        def _set(self, key, member):
            self.settings[key] = member.split(".")[1]

        def set_enhancement(self, mode):
            self._set("enhancement", mode)

        def set_formant_weighting(self, weighting):
            self._set("formant_weighting", weighting)

        def set_ambe_plus2_synth(self, gen):
            self._set("ambe_plus2_synth", gen)

        def set_pyin_pitch(self, on):
            self.pitch = "pyin" if on else "std"

        def encode_pcm(self, pcm):
            assert pcm.dtype == np.int16 and pcm.shape == (FRAME,)
            self.queue.append(pcm.copy())
            # The pitch tracker travels with the frame, so the decoder can report it.
            return self.pitch.encode() + self.queue.popleft().tobytes()

        def decode_bits(self, bits):
            self.settings["pitch"] = bits[:-2 * FRAME].decode()
            if not module.applied or module.applied[-1] is not self.settings:
                module.applied.append(self.settings)
            return np.frombuffer(bits[-2 * FRAME:], dtype=np.int16).copy()

    module.Rate, module.Vocoder = Rate, Vocoder
    return module


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[1])
    parser.add_argument("--rates", default=",".join(RATES),
                        help="comma-separated rates out of " + ",".join(RATES) + ", or 'none'")
    parser.add_argument("--grid", choices=("full", "default"), default="full",
                        help="full: every post-filter mode x formant weighting x half-rate synthesis "
                             "variant x pitch tracker at every rate; default: the library's defaults "
                             "and the command line's (standard formant weighting)")
    parser.add_argument("--transcode", default=",".join(TRANSCODES),
                        help="comma-separated SOURCE:TARGET rate pairs encoded at SOURCE, transcoded "
                             "to TARGET and decoded there (compat and standard formant weighting), "
                             "or 'none'")
    parser.add_argument("--codec2", default=",".join(CODEC2_MODES),
                        help="comma-separated codec2 modes (bit/s), or 'none'")
    parser.add_argument("--speex", default=",".join(SPEEX_QUALITIES),
                        help="comma-separated Speex narrowband qualities out of 1,2, or 'none'")
    parser.add_argument("--opus", default=",".join(OPUS_KBPS),
                        help="comma-separated Opus narrowband bit rates (kbit/s), or 'none'")
    parser.add_argument("--loss-budget", action="store_true",
                        help="also score bench/loss_budget.py's rows: each parameter group alone through "
                             "the quantizer (needs the loss_budget_driver benchmark binary)")
    parser.add_argument("--clips", type=int, default=None, help="use at most N clips")
    parser.add_argument("--clip-set", choices=("bench", *OTHER_SETS), default="bench",
                        help="bench: the 12 clips; other, third: two disjoint sets of 30 other asterisk "
                             "prompts, for telling apart changes that move the 12 clips' mean within "
                             "their noise")
    parser.add_argument("--align", choices=("xcorr", "fixed"), default="xcorr",
                        help="xcorr: measure each output's delay; fixed: drop the 2-frame encoder "
                             "delay from our output (other coders are always measured)")
    parser.add_argument("--json", type=Path, help="also write the results to this JSON file")
    parser.add_argument("--markdown", action="store_true", help="print the mean scores as a Markdown table too")
    parser.add_argument("--from-json", type=Path, metavar="FILE",
                        help="print the tables of a saved --json run instead of running")
    parser.add_argument("--self-test", action="store_true",
                        help="check alignment and scoring with stand-in codecs of known delay")
    args = parser.parse_args(argv)

    if args.from_json:
        payload = json.loads(args.from_json.read_text())
        print_table(payload["results"], len(payload["clips"]), sum(payload["clips"].values()))
        if args.markdown:
            print_markdown(payload["results"])
        return 0

    def listed(text: str) -> list[str]:
        return [] if text.strip() == "none" else [v.strip() for v in text.split(",") if v.strip()]

    rates, speex_q = listed(args.rates), listed(args.speex)
    unknown = [r for r in rates if r not in RATES] + [q for q in speex_q if q not in SPEEX_QUALITIES]
    if unknown:
        parser.error(f"unknown rate(s) or Speex quality {','.join(unknown)}")

    still_missing = ensure_debian_packages(DEBIAN_PACKAGES)
    if still_missing:
        print(f"warning: could not install {' '.join(still_missing)}", file=sys.stderr)
    metrics = Metrics(ensure_pypi("pesq"), ensure_pypi("pystoi"), dnsmos_module())
    clips = choose_clips(args.clips, args.clip_set)
    if not clips:
        print("error: no speech clips found", file=sys.stderr)
        return 2
    if args.self_test:
        return self_test(clips, metrics)

    module = import_codec() if rates or listed(args.transcode) else None
    ours = OurCodec(module)
    coders = [ours.coder(s) for s in settings_grid(rates, args.grid)]
    for pair in listed(args.transcode):
        source, _, target = pair.partition(":")
        if source not in RATES or target not in RATES:
            parser.error(f"unknown transcode pair {pair}")
        # Into a half rate, with and without the transcoder's quantizer search.
        searches = QUANTIZER_SEARCHES if target.startswith("ambe") else (None,)
        coders += [ours.transcoded(source, target, w, q) for q in searches for w in WEIGHTINGS]
    if args.loss_budget:
        sys.path.insert(0, str(Path(__file__).resolve().parent))
        import loss_budget
        coders += loss_budget.budget_coders(loss_budget.find_driver(None))
    # The input itself: what DNSMOS gives unprocessed speech (PESQ and STOI are then at their tops).
    coders.append(Coder("unprocessed", "reference", None, {}, lambda pcm: pcm.copy()))
    coders += [codec2(m) for m in listed(args.codec2)]
    coders += [speex(q) for q in speex_q]
    coders += [opus(k) for k in listed(args.opus)]

    results = []
    for coder in coders:
        fixed = ENCODER_DELAY if args.align == "fixed" and coder.family.startswith("ostrel_mbe") else None
        results.append(evaluate(coder, clips, metrics, fixed))

    print("clips: " + ", ".join(f"{c.name} ({len(c.pcm) / SAMPLE_RATE:.1f} s)" for c in clips))
    summaries = {r.coder.label: summary(r) for r in results}
    print_table(summaries, len(clips), sum(len(c.pcm) for c in clips) / SAMPLE_RATE)
    print_encode_cost(ours.encode_seconds)
    if args.markdown:
        print_markdown(summaries)
    if args.json:
        payload = {
            "metrics": {"pesq": "ITU-T P.862 narrow-band MOS-LQO (PyPI pesq)",
                        "stoi": "short-time objective intelligibility, 0..1 (PyPI pystoi)",
                        "p808": "DNSMOS P.808 MOS of the output resampled to 16 kHz (PyPI speechmos)"},
            "command": "python bench/quality.py " + " ".join(argv if argv is not None else sys.argv[1:]),
            "versions": {
                "_ostrel_mbe": getattr(module, "__version__", None),
                **{p: _pypi_version(p) for p in PYPI_PACKAGES.values()},
                **{p: package_version(p) for p in DEBIAN_PACKAGES},
            },
            "clips": {c.name: round(len(c.pcm) / SAMPLE_RATE, 3) for c in clips},
            "results": summaries,
        }
        args.json.write_text(json.dumps(payload, indent=2) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
