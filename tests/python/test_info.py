# SPDX-License-Identifier: GPL-2.0-or-later
"""Vocoder.last_decode_report and `python -m ostrel_mbe info`, which is built on it."""

import json

import numpy as np
import pytest

import _ostrel_mbe as m
from conftest import WIRE_BYTES, speech_frames
from ostrel_mbe.__main__ import main

CODE_VECTORS = {0: 8, 1: 0, 2: 4, 3: 0}
NAMES = {0: "imbe7200", 1: "imbe4400", 2: "ambe3600", 3: "ambe2450"}


def encode(rate, frames, tone_detection=False):
    enc = m.Vocoder(rate)
    enc.set_tone_detection(tone_detection)
    return [enc.encode_pcm(f) for f in frames]


def test_decode_report_follows_the_encoder(rate):
    dec = m.Vocoder(rate)
    assert dec.last_decode_report() is None
    for i, frame in enumerate(encode(rate, speech_frames(6))):
        dec.decode_bits(frame)
        report = dec.last_decode_report()
        assert report == {"kind": "silence" if i < 2 else "voice", "disposition": "normal",
                          "errors": (0,) * CODE_VECTORS[int(rate)], "e0": 0, "total": 0, "tone": None}
    report["kind"] = "changed"  # a new dict each time: the channel's report is not touched
    assert dec.last_decode_report()["kind"] == "voice"
    dec.reset()
    assert dec.last_decode_report() is None


def info(tmp_path, capsys, rate, frames, *extra):
    """Runs `info --json` on the frames; returns the exit status, the report and stderr."""
    path = tmp_path / "frames.bin"
    path.write_bytes(b"".join(frames))
    code = main(["info", "--rate", NAMES[int(rate)], "--json", str(path), *extra])
    captured = capsys.readouterr()
    return code, json.loads(captured.out), captured.err


def test_info_counts_corrected_errors(tmp_path, capsys):
    # One flipped bit in c0 (symbol 0, high bit) of every third frame: each is corrected.
    rate = m.Rate.IMBE_7200X4400
    frames = encode(rate, speech_frames(30))
    hit = [bytes([f[0] ^ 0x80]) + f[1:] if i % 3 == 0 else f for i, f in enumerate(frames)]
    code, out, _ = info(tmp_path, capsys, rate, hit)
    assert code == 0
    assert (out["frames"], out["duration_s"], out["fec"]) == (30, 0.6, True)
    assert sum(out["kinds"].values()) == 30 and out["kinds"]["silence"] == 2
    assert out["corrected_errors_per_frame"] == {"0": 20, "1": 10}
    assert out["corrected_errors_per_code_vector"] == [10, 0, 0, 0, 0, 0, 0, 0]
    assert (out["corrected_bits"], out["protected_bits"]) == (10, 30 * 137)
    assert out["bit_error_rate"] == pytest.approx(10 / (30 * 137))
    assert (out["lost_frames"], out["lost_runs"], out["tones"]) == (0, [], [])


def test_info_finds_lost_frames_and_tones(tmp_path, capsys):
    rate = m.Rate.AMBEPLUS2_2450X2450
    t = np.arange(160 * 6) / 8000.0
    dtmf = (6000 * (np.sin(2 * np.pi * 697 * t) + np.sin(2 * np.pi * 1209 * t))).astype(np.int16)
    frames = encode(rate, speech_frames(12)) + encode(rate, dtmf.reshape(6, 160), tone_detection=True)
    erasure = b"\xff" * 7  # tone marker with a non-zero low nibble in u3: an erasure frame
    frames[5:7] = [erasure, erasure]
    frames[9] = erasure
    code, out, _ = info(tmp_path, capsys, rate, frames)
    assert code == 0
    assert out["kinds"]["erasure"] == 3 and out["kinds"]["tone"] == 6
    assert (out["lost_frames"], out["lost_runs"]) == (3, [[5, 2], [9, 1]])
    assert [(t["id"], t["frames"], t["first_frame"]) for t in out["tones"]] == [(129, 6, 12)]
    assert (out["fec"], out["bit_error_rate"], out["corrected_errors_per_frame"]) == (False, None, {})


def test_info_text_and_trailing_bytes(tmp_path, capsys):
    rate = m.Rate.AMBEPLUS2_3600X2450
    frames = encode(rate, speech_frames(5)) + [b"\x00" * 4]
    code, out, err = info(tmp_path, capsys, rate, frames)
    assert code == 2 and out["frames"] == 5 and out["trailing_bytes"] == 4
    assert "4 bytes left over after 5 whole 9-byte ambe3600 frames" in err
    assert main(["info", "--rate", "ambe3600", str(tmp_path / "frames.bin")]) == 2
    text = capsys.readouterr().out
    assert text.startswith(f"{tmp_path / 'frames.bin'}: 5 frames at ambe3600 (9 bytes each), 0.10 s\n")
    assert "frame kinds: voice 3, silence 2, tone 0, erasure 0, invalid 0" in text
    assert "bit error rate estimate: 0.000 % (0 corrected in 235 FEC-protected bits)" in text


def test_info_of_random_frames_never_fails(tmp_path, capsys, rate):
    rng = np.random.default_rng(7)
    frames = [rng.integers(0, 256, WIRE_BYTES[int(rate)], dtype=np.uint8).tobytes() for _ in range(40)]
    code, out, _ = info(tmp_path, capsys, rate, frames)
    assert code == 0 and sum(out["kinds"].values()) == 40
    assert out["lost_frames"] == sum(n for _, n in out["lost_runs"]) <= 40


def test_info_memory_does_not_grow_with_the_runs_of_lost_frames(tmp_path, capsys):
    # A crafted file alternating an erasure and a good frame: one run of lost frames per two
    # frames.  The report's memory (runs, histograms, JSON text) must not follow the length.
    import tracemalloc

    rate = m.Rate.AMBEPLUS2_2450X2450
    good = encode(rate, speech_frames(3))[2]
    pair = b"\xff" * 7 + good

    def peak(pairs):
        (tmp_path / "frames.bin").write_bytes(pair * pairs)
        tracemalloc.start()
        try:
            assert main(["info", "--rate", "ambe2450", "--json", str(tmp_path / "frames.bin")]) == 0
            return tracemalloc.get_traced_memory()[1]
        finally:
            tracemalloc.stop()
            out = json.loads(capsys.readouterr().out)
            assert (out["lost_frames"], out["lost_run_count"]) == (pairs, pairs)
            assert len(out["lost_runs"]) <= 100

    small, large = peak(8000), peak(24000)  # both longer than one 64 KiB read
    print(f"info --json peak traced memory: {small} B for 16000 frames, {large} B for 48000 frames")
    assert large - small < 256 * 1024  # a list per run took about 2 MB more here


@pytest.mark.parametrize("name", ["imbe7200", "imbe4400", "ambe3600", "ambe2450"])
def test_info_guesses_the_rate_and_decode_warns_of_a_wrong_one(tmp_path, capsys, name):
    path = tmp_path / "speech.bin"
    assert main(["encode", "--rate", name, "-o", str(path)]) == 0  # 289 frames: one rate fits its length
    capsys.readouterr()
    assert main(["info", "--json", str(path)]) == 0
    captured = capsys.readouterr()
    assert json.loads(captured.out)["rate"] == name and f"rate {name}, guessed" in captured.err
    if name == "imbe7200":  # 18-byte frames are two 9-byte ones: decoded, but nearly all lost
        assert main(["decode", "--rate", "ambe3600", str(path), str(tmp_path / "x.wav")]) == 0
        assert "frames were erased, invalid, repeated or muted at ambe3600: is --rate right?" in capsys.readouterr().err
        path.write_bytes(path.read_bytes()[:18 * 250])  # 250 frames fit both FEC rates' lengths
        assert main(["info", str(path)]) == 0
        assert "rate imbe7200, guessed from its length and error statistics" in capsys.readouterr().err
    if name == "ambe2450":  # 77 bytes are 7 frames at ambe2450 and 11 at imbe4400
        path.write_bytes(path.read_bytes()[:77])
        assert main(["info", str(path)]) == 2
        assert "cannot tell the rate: its length fits imbe4400, ambe2450" in capsys.readouterr().err
