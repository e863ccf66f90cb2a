# SPDX-License-Identifier: GPL-2.0-or-later
"""batch: many files on a process pool or a Dask cluster, each output as the single-file command
writes it; bad files fail alone; an interrupted batch resumes."""

import json
import os
import shutil
from pathlib import PurePosixPath

import pytest

from ostrel_mbe import batch, wav
from ostrel_mbe.__main__ import bundled_speech, main

# command: (its options, the input tree, the suffixes of an input's outputs)
CASES = {
    "encode": (["--rate", "ambe3600"], "audio", [".ambe3600"]),
    "decode": (["--rate", "imbe7200"], "frames", [".wav"]),
    "transcode": (["--from", "imbe7200", "--to", "ambe3600"], "frames", [".ambe3600"]),
    "roundtrip": (["--rate", "ambe2450", "--rate", "imbe4400"], "audio", [".ambe2450.wav", ".imbe4400.wav"]),
    "simulate": (["--ber", "0.03", "--seed", "5"], "audio", [".wav"]),
}


@pytest.fixture(scope="module")
def corpus(tmp_path_factory):
    """audio/{x.wav, a/y.wav, a/b/z.flac} of 0.2-0.3 s and their imbe7200 frames in frames/."""
    root = tmp_path_factory.mktemp("corpus")
    speech = wav.load_pcm(bundled_speech())
    for i, name in enumerate(["x.wav", "a/y.wav", "a/b/z.flac"]):
        (root / "audio" / name).parent.mkdir(parents=True, exist_ok=True)
        wav.write(root / "audio" / name, speech[4000 * i:4000 * i + 1600 + 800 * i])
        frames = root / "frames" / name.replace(".wav", ".imbe7200").replace(".flac", ".imbe7200")
        frames.parent.mkdir(parents=True, exist_ok=True)
        assert main(["encode", str(root / "audio" / name), str(frames)]) == 0
    return root


@pytest.fixture(scope="module")
def dask_cluster():
    distributed = pytest.importorskip("distributed")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=":0") as cluster:
        yield cluster


def _outputs(out):
    return sorted(p.relative_to(out).as_posix() for p in out.rglob("*") if p.is_file() and p.name != batch.REPORT_NAME)


@pytest.mark.parametrize("where", ["pool", "dask"])
@pytest.mark.parametrize("command", CASES)
def test_outputs_are_the_single_file_commands_outputs(corpus, tmp_path, monkeypatch, request, command, where):
    flags, tree, suffixes = CASES[command]
    monkeypatch.chdir(corpus)
    out = tmp_path / "out"
    if where == "pool":
        where_flags = ["--workers", "2"]
    else:
        where_flags = ["--scheduler", request.getfixturevalue("dask_cluster").scheduler_address]
    assert main(["batch", command, *flags, *where_flags, "-o", str(out), tree]) == 0
    expected = []
    for source in sorted(p for p in (corpus / tree).rglob("*") if p.is_file()):
        ref_dir = tmp_path / "ref" / source.parent.relative_to(corpus)
        ref_dir.mkdir(parents=True, exist_ok=True)
        stem = source.name.split(".")[0]
        if command == "roundtrip":
            assert main([command, *flags, str(source), "-d", str(ref_dir)]) == 0
        elif command == "simulate":
            # Each file's channel from a seed of its own, made from the batch's and its path.
            seed = batch.file_seed(5, PurePosixPath(source.relative_to(corpus).as_posix()))
            assert main([command, *flags, "--seed", str(seed), str(source), str(ref_dir / (stem + ".wav"))]) == 0
        else:
            assert main([command, *flags, str(source), str(ref_dir / (stem + suffixes[0]))]) == 0
        expected += [(ref_dir / (stem + suffix)).relative_to(tmp_path / "ref").as_posix() for suffix in suffixes]
    assert _outputs(out) == sorted(expected)
    for rel in expected:
        assert (out / rel).read_bytes() == (tmp_path / "ref" / rel).read_bytes(), rel


def test_a_corrupt_input_fails_alone(corpus, tmp_path, monkeypatch, capsys):
    shutil.copytree(corpus / "audio", tmp_path / "audio")
    (tmp_path / "audio" / "a" / "bad.wav").write_bytes(b"RIFF\x10\x00\x00\x00WAVEjunk" + bytes(64))
    monkeypatch.chdir(tmp_path)
    assert main(["batch", "encode", "--workers", "1", "-o", "out", "audio"]) == 1
    lines = [json.loads(line) for line in (tmp_path / "out" / batch.REPORT_NAME).read_text().splitlines()]
    status = {e["output"]: e["status"] for e in lines[:-1]}
    assert status == {"audio/x.imbe7200": "ok", "audio/a/y.imbe7200": "ok", "audio/a/b/z.imbe7200": "ok",
                      "audio/a/bad.imbe7200": "failed"}
    assert lines[-1]["failures"] == 1 and lines[-1]["done"] == 3
    errors = capsys.readouterr().err.strip().splitlines()
    assert len(errors) == 1 and "bad.wav" in errors[0]
    assert sorted(_outputs(tmp_path / "out")) == sorted(k for k, v in status.items() if v == "ok")


def test_a_wrong_rate_warning_goes_in_the_report(corpus, tmp_path, monkeypatch, capsys):
    for path in (corpus / "frames").rglob("*.imbe7200"):  # full-rate frames named as half-rate ones
        shutil.copy(path, tmp_path / path.with_suffix(".ambe3600").name)
    monkeypatch.chdir(tmp_path)
    assert main(["batch", "decode", "--rate", "ambe3600", "--workers", "1", "-o", "out", "."]) == 0
    lines = [json.loads(line) for line in (tmp_path / "out" / batch.REPORT_NAME).read_text().splitlines()[:-1]]
    assert all("is --rate right?" in e["warning"] and e["status"] == "ok" for e in lines) and len(lines) == 3
    assert capsys.readouterr().err.count("is --rate right?") == 3


def test_an_interrupted_batch_resumes(corpus, tmp_path, monkeypatch):
    monkeypatch.chdir(corpus)
    out = tmp_path / "out"
    assert main(["batch", "decode", "--workers", "1", "-o", str(out), "frames"]) == 0
    # As if stopped while writing z: its entry and the summary not yet written, its temporary
    # file left beside where it goes.
    report = out / batch.REPORT_NAME
    kept = [line for line in report.read_text().splitlines() if '"frames/a/b/z.wav"' not in line][:-1]
    report.write_text("\n".join(kept) + "\n")
    (out / "frames/a/b/z.wav").unlink()
    before = {rel: (out / rel).stat().st_mtime_ns for rel in _outputs(out)}
    leftover = out / "frames/a/b/.z.wav.k3j9x0qa.part"
    leftover.write_bytes(b"RIFF")
    assert main(["batch", "decode", "--workers", "1", "-o", str(out), "frames"]) == 0
    status = {e["output"]: e["status"] for e in map(json.loads, report.read_text().splitlines()) if "output" in e}
    assert status == {"frames/x.wav": "skipped", "frames/a/y.wav": "skipped", "frames/a/b/z.wav": "ok"}
    assert not leftover.exists()
    assert all((out / rel).stat().st_mtime_ns == t for rel, t in before.items())
    # Other options make other outputs: nothing is skipped.
    assert main(["batch", "decode", "--formant-weighting", "compat", "--workers", "1", "-o", str(out), "frames"]) == 0
    assert '"skipped": 0' in report.read_text().splitlines()[-1]


@pytest.mark.parametrize("inputs, message", [
    (["/abs/x.wav", "../up/y.wav"], None),
    (["x.wav", "sub/../x.flac"], "would both be written to"),
])
def test_outputs_stay_inside_the_output_folder(tmp_path, inputs, message):
    options = batch.command_options("encode", {})
    if message is None:
        tasks = batch.plan("encode", inputs, str(tmp_path), options)
        assert [t.rel_output for t in tasks] == ["abs/x.imbe7200", "up/y.imbe7200"]
    else:
        with pytest.raises(batch.BatchError, match=message):
            batch.plan("encode", inputs, str(tmp_path), options)
