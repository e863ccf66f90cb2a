"""Smoke tests of the command line, python -m ostrel_mbe, on a short clip."""

import subprocess
import sys
import wave

import numpy as np
import pytest

from ostrel_mbe import wav
from ostrel_mbe.__main__ import bundled_speech, main

import _ostrel_mbe as m


def run(*args, cwd=None):
    return subprocess.run([sys.executable, "-m", "ostrel_mbe", *map(str, args)], capture_output=True, text=True,
                          cwd=cwd, timeout=120)


@pytest.fixture
def short_clip(tmp_path):
    """0.5 s of the bundled speech, 16 kHz stereo, so the command resamples and mixes down."""
    speech = wav.load_pcm(bundled_speech())[2000:6000]
    up = wav.to_int16(wav.resample(speech / 32768.0, 8000, 16000))
    path = tmp_path / "clip.wav"
    with wave.open(str(path), "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(16000)
        w.writeframes(np.stack([up, up], axis=1).astype("<i2").tobytes())
    return path


def test_encode_then_decode(tmp_path, short_clip):
    frames = tmp_path / "clip.imbe"
    r = run("encode", short_clip, frames, "--rate", "imbe7200")
    assert r.returncode == 0, r.stderr
    data = frames.read_bytes()
    assert len(data) == 25 * 18  # 4000 samples at 8 kHz -> 25 frames of 18 bytes
    out = tmp_path / "clip_decoded.wav"
    r = run("decode", "--rate", "imbe7200", frames, out)
    assert r.returncode == 0, r.stderr
    with wave.open(str(out)) as w:
        assert (w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes()) == (1, 2, 8000, 25 * 160)
    # Matches the library used directly; decoding uses the standard's formant weighting unless
    # asked for the library's default.
    enc = m.Vocoder(m.Rate.IMBE_7200X4400)
    direct = b"".join(enc.encode_pcm(f) for f in wav.split_frames(wav.load_pcm(short_clip)))
    assert direct == data
    compat_out = tmp_path / "clip_compat.wav"
    assert run("decode", frames, compat_out, "--formant-weighting", "compat").returncode == 0
    for weighting, path in ((m.FormantWeighting.STANDARD, out), (m.FormantWeighting.COMPAT, compat_out)):
        dec = m.Vocoder(m.Rate.IMBE_7200X4400)
        dec.set_formant_weighting(weighting)
        expected = np.concatenate([dec.decode_bits(data[i:i + 18]) for i in range(0, len(data), 18)])
        assert np.array_equal(wav.load_pcm(path), expected), weighting


def test_roundtrip_prints_frames_per_second(tmp_path, short_clip):
    r = run("roundtrip", short_clip, "--rate", "imbe7200", "--rate", "imbe4400")  # beside the input
    assert r.returncode == 0, r.stderr
    lines = r.stdout.strip().splitlines()
    assert [line.split(":")[0] for line in lines] == ["imbe7200", "imbe4400"]
    assert all("frames/s" in line for line in lines)
    for name in ("imbe7200", "imbe4400"):
        pcm = wav.load_pcm(tmp_path / f"clip.{name}.wav")
        assert pcm.size == 25 * 160


@pytest.mark.parametrize("args,message", [
    (["encode", "{missing}", "-o", "{tmp}/x"], "no such file"),
    (["encode", "{garbage}", "-o", "{tmp}/x"], "not a RIFF/WAVE file"),
    (["encode", "{tmp}", "-o", "{tmp}/x"], ""),
    (["decode", "{missing}", "-o", "{tmp}/x.wav"], "no such file"),
    (["decode", "{garbage}", "-o", "{tmp}/x.wav", "--rate", "imbe4400"], "not a whole number of 11-byte imbe4400 frames"),
    (["roundtrip", "{garbage}", "-d", "{tmp}"], "not a RIFF/WAVE file"),
    (["encode", "-o", "x", "--rate", "imbe9600"], "invalid choice"),
    (["decode", "{garbage}"], "an output file is required"),
    (["decode", "-o", "{tmp}/x.wav"], "an input file is required"),
    (["encode", "a.wav", "b.bin", "c"], "too many file arguments"),
    (["encode", "a.wav", "b.bin", "-o", "c"], "too many file arguments"),
    (["roundtrip", "{garbage}", "-d", "{missing}"], "not a directory"),
])
def test_bad_input_exits_2_without_traceback(tmp_path, args, message):
    garbage = tmp_path / "garbage.bin"
    garbage.write_bytes(b"this is not audio" * 3)
    args = [a.format(missing=tmp_path / "missing.wav", garbage=garbage, tmp=tmp_path) for a in args]
    r = run(*args)
    assert r.returncode == 2
    assert "Traceback" not in r.stderr
    assert "error" in r.stderr and message in r.stderr


@pytest.mark.parametrize("command", ["decode", "roundtrip"])
def test_help_names_the_formant_weighting(command):
    r = run(command, "--help")
    assert r.returncode == 0
    assert "--formant-weighting {standard,compat}" in r.stdout and "default here" in r.stdout


def test_default_input_is_the_bundled_clip(tmp_path, capsys):
    out = tmp_path / "speech.bin"
    assert main(["encode", "-o", str(out), "--rate", "imbe4400", "--progress", "never"]) == 0
    frames = -(-wav.load_pcm(bundled_speech()).size // 160)
    assert len(out.read_bytes()) == frames * 11
    assert f"{frames} frames" in capsys.readouterr().out
    assert main(["encode", str(out) + "2", "--rate", "imbe4400"]) == 0  # a lone file is the output
    assert (tmp_path / "speech.bin2").read_bytes() == out.read_bytes()


def test_roundtrip_of_the_bundled_clip_writes_to_the_current_directory(tmp_path):
    r = run("roundtrip", "--rate", "ambe2450", "--progress", "never", cwd=tmp_path)
    assert r.returncode == 0, r.stderr
    assert r.stdout.startswith("ambe2450: 286 frames (5.72 s)")
    assert wav.load_pcm(tmp_path / "speech_8k.ambe2450.wav").size == 286 * 160


def test_progress_bar_goes_to_stderr(tmp_path, short_clip, capsys):
    assert main(["encode", str(short_clip), "-o", str(tmp_path / "x"), "--progress", "always"]) == 0
    assert (tmp_path / "x").stat().st_size == 25 * 18
    captured = capsys.readouterr()
    assert "100% 25/25 frames" in captured.err
    assert "frames" in captured.out and "%" not in captured.out
