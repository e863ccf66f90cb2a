# SPDX-License-Identifier: GPL-2.0-or-later
"""Smoke tests of the command line, python -m ostrel_mbe, on a short clip."""

import os
import resource
import select
import stat
import struct
import subprocess
import sys
import wave
from pathlib import Path

import numpy as np
import pytest

from ostrel_mbe import wav
from ostrel_mbe.__main__ import RATES, bundled_speech, main
from ostrel_mbe.cli import build_parser
from ostrel_mbe.cli.decode import configure_decoder

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
    assert len(data) == 28 * 18  # 4000 samples at 8 kHz -> 25 frames of 18 bytes, 3 more flush the delay
    out = tmp_path / "clip_decoded.wav"
    r = run("decode", "--rate", "imbe7200", frames, out)
    assert r.returncode == 0, r.stderr
    with wave.open(str(out)) as w:
        assert (w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes()) == (1, 2, 8000, 28 * 160)
    # Matches the library used directly; decoding uses the standard's formant weighting unless
    # asked for the library's default, and the decoded-output settings unless switched off.
    enc = m.Vocoder(m.Rate.IMBE_7200X4400)
    padded = np.concatenate([wav.load_pcm(short_clip), np.zeros(3 * 160, np.int16)])
    direct = b"".join(enc.encode_pcm(f) for f in wav.split_frames(padded))
    assert direct == data
    compat_out = tmp_path / "clip_compat.wav"
    assert run("decode", frames, compat_out, "--formant-weighting", "compat", "--no-agc", "--no-tone-copies",
               "--no-cautious-start").returncode == 0
    for weighting, path in ((m.FormantWeighting.STANDARD, out), (m.FormantWeighting.COMPAT, compat_out)):
        dec = m.Vocoder(m.Rate.IMBE_7200X4400)
        dec.set_formant_weighting(weighting)
        on = path == out
        dec.set_agc(on)
        dec.set_tone_copies(on)
        dec.set_cautious_start(on)
        expected = np.concatenate([dec.decode_bits(data[i:i + 18]) for i in range(0, len(data), 18)])
        assert np.array_equal(wav.load_pcm(path), expected), weighting


@pytest.mark.parametrize("rate", ["ambe3600", "ambe2450"])
def test_half_rate_encode_uses_the_quantizer_search_unless_asked_for_plain(tmp_path, short_clip, rate):
    padded = np.concatenate([wav.load_pcm(short_clip), np.zeros(3 * 160, np.int16)])
    outputs = {}
    for choice in ("search", "plain"):
        enc = m.Vocoder(RATES[rate])
        enc.set_quantizer_search(choice == "search")
        outputs[choice] = b"".join(enc.encode_pcm(f) for f in wav.split_frames(padded))
    assert outputs["search"] != outputs["plain"]
    for args, expected in (((), "search"), (("--quantizer", "plain"), "plain")):
        frames = tmp_path / f"clip_{expected}.bin"
        r = run("encode", short_clip, frames, "--rate", rate, *args)
        assert r.returncode == 0, r.stderr
        assert frames.read_bytes() == outputs[expected], args


def test_decoded_output_options_reach_the_decoder(tmp_path, short_clip):
    frames, out = tmp_path / "clip.ambe3600", tmp_path / "out.wav"
    assert run("encode", "--rate", "ambe3600", short_clip, frames).returncode == 0
    r = run("decode", "--rate", "ambe3600", frames, out, "--level", "-30", "--gain", "3", "--mute-tones",
            "--no-cautious-start")
    assert r.returncode == 0, r.stderr
    dec = m.Vocoder(m.Rate.AMBEPLUS2_3600X2450)
    dec.set_formant_weighting(m.FormantWeighting.STANDARD)
    for setting, value in (("agc", True), ("agc_level", -30.0), ("output_gain", 3.0), ("tone_copies", True),
                           ("mute_tones", True)):
        getattr(dec, f"set_{setting}")(value)
    data = frames.read_bytes()
    expected = np.concatenate([dec.decode_bits(data[i:i + 9]) for i in range(0, len(data), 9)])
    assert np.array_equal(wav.load_pcm(out), expected)


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
    (["decode", "{garbage}", "-o", "{tmp}/x.wav", "--rate", "imbe4400"], "7 bytes left over after 4 whole 11-byte imbe4400"),
    (["transcode", "--from", "imbe4400", "--to", "imbe4400", "{garbage}", "{tmp}/x"],
     "--from and --to are both imbe4400: nothing to transcode"),
    (["transcode", "--from", "imbe4400", "{garbage}", "{tmp}/x"], "--to"),
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
    frames = -(-wav.load_pcm(bundled_speech()).size // 160) + 3  # and the encoder's delay
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
    assert (tmp_path / "x").stat().st_size == 28 * 18
    captured = capsys.readouterr()
    assert "100% 28/28 frames" in captured.err
    assert "frames" in captured.out and "%" not in captured.out


def test_frame_files_with_a_partial_frame_keep_the_whole_frames(tmp_path, short_clip):
    frames = tmp_path / "clip.ambe"
    assert run("encode", "--rate", "ambe3600", short_clip, frames).returncode == 0
    data = frames.read_bytes()
    frames.write_bytes(data + data[:5])
    out = tmp_path / "out.wav"
    r = run("decode", "--rate", "ambe3600", frames, out)
    assert r.returncode == 2 and "5 bytes left over after 28 whole 9-byte ambe3600 frames" in r.stderr
    assert wav.load_pcm(out).size == 28 * 160
    r = run("transcode", "--from", "ambe3600", "--to", "ambe2450", frames, tmp_path / "bare")
    assert r.returncode == 2 and "5 bytes left over after 28 whole 9-byte ambe3600 frames" in r.stderr
    assert (tmp_path / "bare").stat().st_size == 28 * 7


# imbe7200 -> ambe3600 goes through the quantizer search unless --quantizer plain asks otherwise.
@pytest.mark.parametrize("source, target, quantizer", [("imbe7200", "ambe3600", "search"),
                                                       ("imbe7200", "ambe3600", "plain"),
                                                       ("ambe3600", "imbe7200", "search"),
                                                       ("imbe4400", "imbe7200", "search"),
                                                       ("ambe3600", "ambe2450", "search"),
                                                       ("imbe4400", "ambe2450", "search")])
def test_transcode_matches_the_library(tmp_path, short_clip, source, target, quantizer):
    frames = tmp_path / "in.bin"
    assert run("encode", "--rate", source, short_clip, frames).returncode == 0
    given = ("--quantizer", "plain") if quantizer == "plain" else ()
    r = run("transcode", "--from", source, "--to", target, frames, tmp_path / "out.bin", *given)
    assert r.returncode == 0, r.stderr
    # Pairs the library does not convert directly are chained through the ones it does.
    path = {("imbe4400", "ambe2450"): ["imbe4400", "imbe7200", "ambe3600", "ambe2450"]}.get((source, target),
                                                                                         [source, target])
    assert " -> ".join(path) in r.stdout
    chain = [m.Transcoder(RATES[a], RATES[b]) for a, b in zip(path, path[1:])]
    for t in chain:
        t.set_quantizer_search(quantizer == "search")
    data, n = frames.read_bytes(), m.Vocoder(RATES[source]).fec_frame_bytes

    def through(frame):
        for t in chain:
            frame = t.transcode(frame)
        return frame
    expected = b"".join(through(data[i:i + n]) for i in range(0, len(data), n))
    assert (tmp_path / "out.bin").read_bytes() == expected


def test_pipes_stream_raw_pcm_and_frames(tmp_path, short_clip):
    pcm = wav.load_pcm(short_clip)
    raw = pcm.astype("<i2").tobytes()[:-100]  # ends inside a frame: flushed zero-padded
    encoded = subprocess.run([sys.executable, "-m", "ostrel_mbe", "encode", "--rate", "imbe4400", "-", "-"],
                             input=raw, capture_output=True, timeout=120)
    assert encoded.returncode == 0, encoded.stderr
    assert encoded.stdout == _encode_with_flush(pcm[:-50])
    assert b"28 frames" in encoded.stderr  # the summary stays off the data stream
    decoded = subprocess.run([sys.executable, "-m", "ostrel_mbe", "decode", "--rate", "imbe4400", "-", "-"],
                             input=encoded.stdout, capture_output=True, timeout=120)
    assert decoded.returncode == 0, decoded.stderr
    v = m.Vocoder(m.Rate.IMBE_4400X4400)
    configure_decoder(v, build_parser().parse_args(["decode", "--rate", "imbe4400", "-", "-"]))  # its defaults
    expected = b"".join(v.decode_bits(encoded.stdout[i:i + 11]).astype("<i2").tobytes()
                        for i in range(0, len(encoded.stdout), 11))
    assert decoded.stdout == expected


def _encode_with_flush(pcm):
    e = m.LiveEncoder(m.Rate.IMBE_4400X4400)
    return b"".join(e.push(pcm)) + (e.flush() or b"") + b"".join(e.push(np.zeros(3 * 160, np.int16)))


def test_decode_from_a_pipe_answers_each_frame_before_the_stream_ends(short_clip):
    frames = _encode_with_flush(wav.load_pcm(short_clip))
    p = subprocess.Popen([sys.executable, "-m", "ostrel_mbe", "decode", "--rate", "imbe4400", "-", "-"],
                         stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    try:
        for i in range(3):
            p.stdin.write(frames[11 * i:11 * (i + 1)])
            p.stdin.flush()
            # One frame of PCM comes back while stdin stays open (a failure here times out).
            assert select.select([p.stdout], [], [], 60)[0]
            assert len(p.stdout.read(320)) == 320
    finally:
        p.stdin.close()
        p.stdout.read()
        p.wait(timeout=60)


def _one_line_error(r, *names):
    """Exit status 2 and a single line on stderr naming every given file, no traceback."""
    assert r.returncode == 2, r.stderr
    lines = r.stderr.strip().splitlines()
    assert len(lines) == 1 and lines[0].startswith("ostrel_mbe: error: "), r.stderr
    assert all(str(n) in lines[0] for n in names), r.stderr


@pytest.mark.parametrize("command", ["encode", "decode", "transcode", "roundtrip"])
@pytest.mark.parametrize("where", ["missing folder", "folder", "permission denied"])
def test_unwritable_output_is_one_line_naming_it(tmp_path, short_clip, command, where):
    if where == "permission denied" and os.geteuid() == 0:
        pytest.skip("root writes anywhere")
    if where == "missing folder" and command == "roundtrip":
        pytest.skip("roundtrip checks its -d folder first")
    frames = tmp_path / "clip.bin"
    assert run("encode", "--rate", "imbe7200", short_clip, frames).returncode == 0
    target = {"missing folder": tmp_path / "nowhere" / "out", "folder": tmp_path / "busy",
              "permission denied": tmp_path / "locked" / "out"}[where]
    (tmp_path / "busy").mkdir()
    (tmp_path / "locked").mkdir(mode=0o555)
    if command == "roundtrip":
        target = target.parent / "clip.imbe7200.wav"
        if where == "folder":
            target.mkdir()
    args = {"encode": ["encode", short_clip, target], "decode": ["decode", frames, target],
            "transcode": ["transcode", "--from", "imbe7200", "--to", "imbe4400", frames, target],
            "roundtrip": ["roundtrip", short_clip, "-d", target.parent]}[command]
    r = run(*args)
    _one_line_error(r, target)
    assert "Traceback" not in r.stderr and "Exception ignored" not in r.stderr


@pytest.mark.parametrize("rate", [1, 0xFFFFFFFF])
def test_absurd_sample_rate_is_refused(tmp_path, rate):
    path = tmp_path / "absurd.wav"
    data = np.zeros(8000, dtype="<i2").tobytes()
    fmt = struct.pack("<HHIIHH", 1, 1, rate, (rate * 2) & 0xFFFFFFFF, 2, 16)
    body = b"WAVE" + b"fmt " + struct.pack("<I", 16) + fmt + b"data" + struct.pack("<I", len(data)) + data
    path.write_bytes(b"RIFF" + struct.pack("<I", len(body)) + body)
    r = run("encode", path, tmp_path / "x")
    # A rate past 2**31 is refused by libsndfile itself, before it names the rate.
    _one_line_error(r, path, f"unsupported sample rate {rate} Hz" if rate == 1 else "unsupported sample rate")
    assert not (tmp_path / "x").exists()


def _limit_file_size():
    resource.setrlimit(resource.RLIMIT_FSIZE, (1000, 1000))


@pytest.mark.parametrize("command", ["encode", "decode"])
@pytest.mark.parametrize("limit", ["file size limit", "disk full"])
def test_a_write_failing_half_way_leaves_no_truncated_output(tmp_path, short_clip, command, limit):
    frames = tmp_path / "clip.bin"
    assert run("encode", "--rate", "imbe7200", short_clip, frames).returncode == 0  # 450 bytes
    source = short_clip if command == "encode" else frames
    out = tmp_path / "out" if limit == "file size limit" else Path("/dev/full")
    if limit == "file size limit":
        out.write_bytes(b"the previous output")
        # 1000 bytes hold the frames but not the decoded WAV: encode the clip twice over instead.
        if command == "encode":
            long_clip = tmp_path / "long.wav"
            wav.write(long_clip, np.tile(wav.load_pcm(short_clip), 3))
            source = long_clip
    elif not os.path.exists(out):
        pytest.skip("no /dev/full")
    r = subprocess.run([sys.executable, "-m", "ostrel_mbe", command, str(source), str(out)], capture_output=True,
                       text=True, timeout=120, preexec_fn=_limit_file_size if limit == "file size limit" else None)
    _one_line_error(r, out)
    if limit == "file size limit":
        assert out.read_bytes() == b"the previous output"
        assert sorted(p.name for p in tmp_path.iterdir()) == sorted(["clip.bin", "clip.wav", "out"] +
                                                                    (["long.wav"] if command == "encode" else []))


def test_output_replaces_an_older_file_only_when_complete(tmp_path, short_clip):
    out = tmp_path / "frames.bin"
    out.write_bytes(b"old")
    os.chmod(out, 0o640)
    assert run("encode", "--rate", "imbe4400", short_clip, out).returncode == 0
    assert out.stat().st_size == 28 * 11 and stat.S_IMODE(out.stat().st_mode) == 0o640
    assert sorted(p.name for p in tmp_path.iterdir()) == ["clip.wav", "frames.bin"]


def test_empty_inputs_are_refused_without_output(tmp_path):
    empty = tmp_path / "empty.wav"
    wav.write(empty, np.zeros(0, dtype=np.int16))
    _one_line_error(run("encode", empty, tmp_path / "x.bin"), empty, "holds no samples")
    _one_line_error(run("roundtrip", empty), empty, "holds no samples")
    nothing = tmp_path / "nothing.bin"
    nothing.write_bytes(b"")
    _one_line_error(run("decode", nothing, tmp_path / "x.wav"), nothing, "no frames")
    r = subprocess.run([sys.executable, "-m", "ostrel_mbe", "encode", "-", "-"], input=b"", capture_output=True,
                       timeout=120)
    assert r.returncode == 2 and b"<stdin>: no samples" in r.stderr and r.stdout == b""
    assert sorted(p.name for p in tmp_path.iterdir()) == ["empty.wav", "nothing.bin"]


def _harmonic_tone(rate, seconds=1.0, f0=150.0):
    t = np.arange(int(rate * seconds)) / rate
    return 0.2 * sum(np.sin(2 * np.pi * f0 * k * t) / k for k in range(1, 16))


def _pitch_and_level(x, rate=8000):
    x = x - x.mean()
    ac = np.correlate(x, x, "full")[x.size - 1:]
    lo, hi = rate // 400, rate // 100
    return rate / (lo + np.argmax(ac[lo:hi])), 20 * np.log10(np.sqrt(np.mean(x ** 2)))


def _round_trip(tmp_path, source):
    assert main(["encode", str(source), str(tmp_path / "f.bin"), "--progress", "never"]) == 0
    out = tmp_path / "out.wav"
    assert main(["decode", str(tmp_path / "f.bin"), str(out), "--progress", "never"]) == 0
    y = wav.read(out)[0]
    return _pitch_and_level(y[2000:6000])


@pytest.mark.parametrize("channels", [1, 2])
@pytest.mark.parametrize("rate", [8000, 16000, 44100, 48000])
@pytest.mark.parametrize("ext,fmt,subtype", [("wav", "WAV", "PCM_U8"), ("wav", "WAV", "PCM_16"), ("wav", "WAV", "PCM_24"),
                                             ("wav", "WAV", "PCM_32"), ("wav", "WAV", "FLOAT"),
                                             ("flac", "FLAC", "PCM_16"), ("ogg", "OGG", "VORBIS")])
def test_every_format_round_trips_with_its_pitch_and_level(tmp_path, ext, fmt, subtype, rate, channels):
    import soundfile

    reference = tmp_path / "reference.wav"
    wav.write(reference, wav.to_int16(_harmonic_tone(8000)))
    pitch, level = _round_trip(tmp_path, reference)
    source = tmp_path / f"in.{ext}"
    soundfile.write(source, np.stack([_harmonic_tone(rate)] * channels, axis=1), rate, subtype=subtype, format=fmt)
    got_pitch, got_level = _round_trip(tmp_path, source)
    assert abs(pitch - 150) < 5 and abs(got_pitch - pitch) < 3
    assert abs(got_level - level) < 1.0


def _peak_rss_of_encoding(tmp_path, seconds, rate=48000):
    """Peak resident memory (bytes) of `encode` reading a WAV stream of `seconds` from a FIFO,
    generated block by block as it is read, so that nothing holds the whole input."""
    fifo = tmp_path / f"stream{seconds}.wav"
    os.mkfifo(fifo)
    data_bytes = int(seconds * rate) * 2
    header = (b"RIFF" + struct.pack("<I", 36 + data_bytes) + b"WAVEfmt " +
              struct.pack("<IHHIIHH", 16, 1, 1, rate, rate * 2, 2, 16) + b"data" + struct.pack("<I", data_bytes))
    script = ("import resource, runpy, sys\nsys.argv = ['ostrel_mbe'] + sys.argv[1:]\ntry:\n"
              "    runpy.run_module('ostrel_mbe', run_name='__main__')\nfinally:\n"
              "    print('peak', resource.getrusage(resource.RUSAGE_SELF).ru_maxrss, file=sys.stderr)\n")
    child = subprocess.Popen([sys.executable, "-c", script, "encode", str(fifo), os.devnull, "--progress", "never"],
                             stderr=subprocess.PIPE, stdout=subprocess.DEVNULL, text=True)
    block = rate  # one second at a time
    t = np.arange(block) / rate
    one_second = np.round(8000 * np.sin(2 * np.pi * 440 * t)).astype("<i2").tobytes()
    with open(fifo, "wb") as f:
        f.write(header)
        for _ in range(int(seconds)):
            f.write(one_second)
    _, err = child.communicate(timeout=3600)
    assert child.returncode == 0, err
    return int(err.split("peak")[-1]) * 1024


def test_memory_does_not_grow_with_the_input(tmp_path):
    # Two hours take a few minutes; OSTREL_LONG_INPUT_SECONDS=7200 runs them.
    seconds = int(os.environ.get("OSTREL_LONG_INPUT_SECONDS", "600"))
    growth = _peak_rss_of_encoding(tmp_path, seconds) - _peak_rss_of_encoding(tmp_path, 10)
    print(f"peak memory growth for {seconds} s at 48 kHz: {growth / 2**20:.1f} MB")
    assert growth < 50 * 2**20


def test_a_flac_output_failing_is_one_line(tmp_path, short_clip):
    # libsndfile writes FLAC through a callback, whose errors must still reach the user.
    if not os.path.exists("/dev/full"):
        pytest.skip("no /dev/full")
    frames = tmp_path / "clip.bin"
    assert run("encode", short_clip, frames).returncode == 0
    out = tmp_path / "full.flac"
    out.symlink_to("/dev/full")
    _one_line_error(run("decode", frames, out), out)


def _envelope(x):
    return np.sqrt(np.convolve(np.asarray(x, float) ** 2, np.ones(80) / 80, "same"))


@pytest.mark.parametrize("rate", ["imbe7200", "ambe3600"])
def test_the_end_of_a_recording_comes_out_and_roundtrip_is_aligned(tmp_path, rate):
    # Speech that is loud up to its last sample, of a length that is no whole number of frames.
    speech = wav.load_pcm(bundled_speech())[:8000 + 155]
    source = tmp_path / "s.wav"
    wav.write(source, speech)
    assert main(["encode", "--rate", rate, str(source), str(tmp_path / "f.bin")]) == 0
    assert main(["decode", "--rate", rate, str(tmp_path / "f.bin"), str(tmp_path / "d.wav")]) == 0
    decoded = wav.load_pcm(tmp_path / "d.wav")
    tail = speech[-160:]
    # The decoded stream holds the last frame of the input 50 ms later, at its level.
    late = decoded[speech.size - 160 + 400:speech.size + 400]
    assert late.size == 160 and abs(np.std(late.astype(float)) / np.std(tail.astype(float)) - 1) < 0.7
    # Without level control, whose gain moves the envelope while it settles.
    assert main(["roundtrip", "--rate", rate, "--no-agc", str(source), "-d", str(tmp_path)]) == 0
    aligned = wav.load_pcm(tmp_path / f"s.{rate}.wav")
    assert aligned.size == speech.size
    env_in, env_out = _envelope(speech), _envelope(aligned)
    lags = range(-120, 121, 8)
    best = max(lags, key=lambda k: np.corrcoef(env_in[200:-200], np.roll(env_out, -k)[200:-200])[0, 1])
    assert abs(best) <= 24


def _peak_rss_of(*args):
    script = ("import resource, runpy, sys\nsys.argv = ['ostrel_mbe'] + sys.argv[1:]\ntry:\n"
              "    runpy.run_module('ostrel_mbe', run_name='__main__')\nfinally:\n"
              "    print('peak', resource.getrusage(resource.RUSAGE_SELF).ru_maxrss, file=sys.stderr)\n")
    r = subprocess.run([sys.executable, "-c", script, *map(str, args)], capture_output=True, text=True, timeout=600)
    assert r.returncode == 0, r.stderr
    return int(r.stderr.split("peak")[-1]) * 1024


def test_memory_of_a_file_of_many_channels_is_bounded_in_bytes(tmp_path):
    # 16 Ki frames of 1024 channels: 32 MB of samples, 128 MB as float64 if read in one block.
    channels, frames = 1024, 1 << 14
    path = tmp_path / "wide.wav"
    data_bytes = channels * frames * 2
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", 36 + data_bytes) + b"WAVEfmt " +
                struct.pack("<IHHIIHH", 16, 1, channels, 8000, 8000 * channels * 2, channels * 2, 16) +
                b"data" + struct.pack("<I", data_bytes))
        f.write(np.full(channels * 1024, 1000, dtype="<i2").tobytes() * (frames // 1024))
    mono = tmp_path / "mono.wav"
    wav.write(mono, np.full(frames, 1000, dtype=np.int16))
    growth = _peak_rss_of("encode", path, os.devnull) - _peak_rss_of("encode", mono, os.devnull)
    print(f"peak memory growth for 1024 channels: {growth / 2**20:.1f} MB")
    assert growth < 48 * 2**20


def test_tones_flag_sends_dtmf_as_tone_frames_and_keeps_speech_out(tmp_path):
    t = np.arange(800) / 8000.0
    digits = [np.concatenate([8000 * (np.sin(2 * np.pi * lo * t) + np.sin(2 * np.pi * hi * t)), np.zeros(480)])
              for lo, hi in ((697, 1209), (941, 1633))]
    speech = wav.load_pcm(bundled_speech())
    source = tmp_path / "dial.wav"
    wav.write(source, np.concatenate([*digits, speech]).astype(np.int16))
    kinds = {}
    for flags in ((), ("--tones",)):
        frames = tmp_path / "dial.ambe"
        r = run("encode", "--rate", "ambe3600", *flags, source, frames)
        assert r.returncode == 0, r.stderr
        dec, data = m.Vocoder(m.Rate.AMBEPLUS2_3600X2450), frames.read_bytes()
        kinds[flags] = []
        for i in range(0, len(data), 9):
            dec.decode_bits(data[i:i + 9])
            kinds[flags].append(dec.last_decode_report()["kind"] == "tone")
    assert not any(kinds[()])
    with_tones = kinds[("--tones",)]
    assert any(with_tones[:8]) and any(with_tones[8:16]) and sum(with_tones[16:]) <= 3
    assert "--tones" in run("encode", "--help").stdout
