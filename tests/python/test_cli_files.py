# SPDX-License-Identifier: GPL-2.0-or-later
"""The command line never loses a user's file: outputs that cannot be made safely are refused
before anything is touched, inputs are never overwritten, descriptors are streams, and a
signal leaves no temporary file behind."""

import os
import signal
import subprocess
import sys
import tempfile
import time

import numpy as np
import pytest

from ostrel_mbe import wav
from ostrel_mbe.__main__ import bundled_speech, main

import _ostrel_mbe as m

OLD = b"the user's earlier file"


def run(*args, stdout=subprocess.PIPE):
    return subprocess.run([sys.executable, "-m", "ostrel_mbe", *map(str, args)], stdout=stdout,
                          stderr=subprocess.PIPE, timeout=120)


@pytest.fixture
def clip(tmp_path):
    path = tmp_path / "clip.wav"
    wav.write(path, wav.load_pcm(bundled_speech())[2000:6000])
    return path


@pytest.fixture
def frames(tmp_path, clip):
    path = tmp_path / "clip.bin"
    assert main(["encode", str(clip), str(path), "--progress", "never"]) == 0
    return path


@pytest.mark.parametrize("command", ["encode", "decode", "decode-short"])
def test_no_temporary_file_beside_the_output_refuses_before_touching_it(tmp_path, clip, frames, command,
                                                                        monkeypatch, capsys):
    # A folder the user may not write holding a file they may (root cannot be locked out of
    # a folder, so the refusal is simulated).
    def refuse(*args, **kwargs):
        raise PermissionError(13, "Permission denied")
    monkeypatch.setattr(tempfile, "mkstemp", refuse)
    out = tmp_path / "out.wav"
    out.write_bytes(OLD)
    source = {"encode": clip, "decode": frames, "decode-short": tmp_path / "short.bin"}[command]
    (tmp_path / "short.bin").write_bytes(b"abc")
    assert main([command.split("-")[0], str(source), str(out)]) == 2
    assert "cannot create a temporary file beside it" in capsys.readouterr().err
    assert out.read_bytes() == OLD


@pytest.mark.parametrize("link", ["same name", "symbolic link", "hard link", "-o"])
@pytest.mark.parametrize("command", ["encode", "decode", "transcode"])
def test_an_output_that_is_the_input_is_refused(tmp_path, clip, frames, command, link):
    source = clip if command == "encode" else frames
    before = source.read_bytes()
    out = {"same name": source, "-o": source, "symbolic link": tmp_path / "sym", "hard link": tmp_path / "hard"}[link]
    if link == "symbolic link":
        out.symlink_to(source)
    elif link == "hard link":
        os.link(source, out)
    args = {"encode": ["encode", source], "decode": ["decode", source],
            "transcode": ["transcode", "--from", "imbe7200", "--to", "imbe4400", source]}[command]
    r = run(*args, *(["-o", out] if link == "-o" else [out]))
    assert r.returncode == 2 and b"is the input" in r.stderr and r.stderr.count(b"\n") == 1, r.stderr
    assert source.read_bytes() == before
    assert not any(p.name.endswith(".part") for p in tmp_path.iterdir())


@pytest.mark.parametrize("command", ["encode", "decode"])
def test_dev_stdout_appends_through_the_descriptor(tmp_path, clip, frames, command):
    accumulated = tmp_path / "acc"
    accumulated.write_bytes(OLD)
    source = clip if command == "encode" else frames
    with open(accumulated, "ab") as out:
        r = run(command, source, "/dev/stdout", stdout=out)
    assert r.returncode == 0, r.stderr
    expected = run(command, source, "-").stdout  # the stream format: frames, or raw PCM
    assert accumulated.read_bytes() == OLD + expected and len(expected) > 0
    if command == "decode":
        assert not expected.startswith(b"RIFF")


def test_a_fifo_output_gets_the_stream_format(tmp_path, frames):
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    child = subprocess.Popen([sys.executable, "-m", "ostrel_mbe", "decode", str(frames), str(fifo)],
                             stderr=subprocess.PIPE)
    with open(fifo, "rb") as f:
        data = f.read()
    assert child.wait(timeout=120) == 0
    assert len(data) == frames.stat().st_size // 18 * 320  # raw PCM, no header


@pytest.mark.parametrize("signum", [signal.SIGTERM, signal.SIGHUP, signal.SIGINT])
def test_a_signal_leaves_no_temporary_file(tmp_path, signum):
    fifo = tmp_path / "frames.fifo"
    os.mkfifo(fifo)
    out = tmp_path / "out.wav"
    # A suite run as a background job inherits SIGINT ignored, and so would the command: a
    # terminal's Ctrl-C is what this stands for.
    child = subprocess.Popen([sys.executable, "-m", "ostrel_mbe", "decode", "--rate", "ambe2450", str(fifo), str(out)],
                             stderr=subprocess.PIPE, preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
    with open(fifo, "wb") as f:
        f.write(bytes(7 * 50))
        f.flush()
        deadline = time.monotonic() + 60
        while not any(p.name.endswith(".part") for p in tmp_path.iterdir()):
            assert time.monotonic() < deadline, "no temporary output appeared"
            time.sleep(0.05)
        child.send_signal(signum)
        status = child.wait(timeout=60)
    assert status == 128 + signum
    assert sorted(p.name for p in tmp_path.iterdir()) == ["frames.fifo"]


def test_an_inherited_ignored_sigint_stays_ignored(tmp_path):
    # A background job's command is not stopped by a Ctrl-C meant for the foreground.
    fifo = tmp_path / "frames.fifo"
    os.mkfifo(fifo)
    child = subprocess.Popen([sys.executable, "-m", "ostrel_mbe", "decode", "--rate", "ambe2450", str(fifo),
                              str(tmp_path / "out.wav")], stderr=subprocess.PIPE,
                             preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_IGN))
    with open(fifo, "wb") as f:
        f.write(bytes(7 * 50))
        f.flush()
        while not any(p.name.endswith(".part") for p in tmp_path.iterdir()):
            time.sleep(0.05)
        child.send_signal(signal.SIGINT)
        with pytest.raises(subprocess.TimeoutExpired):
            child.wait(timeout=1)
    assert child.wait(timeout=60) == 0  # the input ended: the output is complete
    assert (tmp_path / "out.wav").stat().st_size == 44 + 50 * 320


@pytest.mark.parametrize("fmt,subtype", [("WAV", "PCM_16"), ("FLAC", "PCM_16"), ("OGG", "VORBIS")])
def test_a_container_on_a_pipe_is_read_as_such_and_refused_by_decode(tmp_path, fmt, subtype):
    import soundfile

    speech = wav.load_pcm(bundled_speech())[2000:6000] / 32768.0
    source = tmp_path / f"in.{fmt.lower()}"
    soundfile.write(source, np.stack([wav.resample(speech, 8000, 16000)] * 2, axis=1), 16000,
                    format=fmt, subtype=subtype)
    from_file = run("encode", source, "-")
    with open(source, "rb") as stdin:
        from_pipe = subprocess.run(f"cat | {sys.executable} -m ostrel_mbe encode - -", shell=True, stdin=stdin,
                                   capture_output=True, timeout=120)
    assert from_pipe.returncode == 0, from_pipe.stderr
    assert from_pipe.stdout == from_file.stdout and len(from_file.stdout) == 28 * 18
    r = run("decode", source, tmp_path / "out.wav")
    assert r.returncode == 2 and f"a {fmt} audio file, not wire frames".encode() in r.stderr
    assert not (tmp_path / "out.wav").exists()


@pytest.mark.parametrize("case", ["info of an empty file", "ogg output", "unknown extension", "version",
                                  "roundtrip json", "same rates", "trailing slash", "249-character name",
                                  "name that is not UTF-8"])
def test_consistency(tmp_path, clip, frames, case):
    import json
    import soundfile

    (tmp_path / "empty.bin").write_bytes(b"")
    long_name = tmp_path / ("x" * 245 + ".wav")
    args, status, needle, made = {
        "info of an empty file": (["info", tmp_path / "empty.bin"], 2, b"empty.bin: no frames", None),
        "ogg output": (["decode", frames, tmp_path / "o.ogg"], 0, b"", tmp_path / "o.ogg"),
        "unknown extension": (["decode", frames, tmp_path / "o.xyz"], 2, b"cannot write a .xyz file", None),
        "version": (["--version"], 0, b"ostrel_mbe " + m.__version__.encode(), None),
        "roundtrip json": (["roundtrip", clip, "--json", "-d", tmp_path], 0, b'"rate": "imbe7200"',
                           tmp_path / "clip.imbe7200.wav"),
        "same rates": (["transcode", "--from", "ambe3600", "--to", "ambe3600", frames, tmp_path / "t"], 2,
                       b"both ambe3600", None),
        "trailing slash": (["decode", frames, str(tmp_path / "dir") + "/"], 2, b"not a directory", None),
        "249-character name": (["decode", frames, long_name], 0, b"", long_name),
        "name that is not UTF-8": (["encode", clip, os.fsencode(tmp_path) + b"/\xff.bin"], 0, b"\\udcff.bin",
                                   tmp_path / os.fsdecode(b"\xff.bin")),
    }[case]
    r = subprocess.run([sys.executable, "-m", "ostrel_mbe", *map(os.fsencode, args)], capture_output=True,
                       timeout=120, env={**os.environ, "PYTHONIOENCODING": "utf-8:strict"})
    assert r.returncode == status and needle in r.stdout + r.stderr, r.stderr
    assert b"Traceback" not in r.stderr
    names = {p.name for p in tmp_path.iterdir()} - {"clip.wav", "clip.bin", "empty.bin"}
    assert names == ({made.name} if made else set())
    if case == "ogg output":
        assert soundfile.info(str(made)).format == "OGG"
    if case == "roundtrip json":
        assert json.loads(r.stdout)[0]["frames"] == 25
