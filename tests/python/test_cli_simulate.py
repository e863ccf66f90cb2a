# SPDX-License-Identifier: GPL-2.0-or-later
"""The simulate subcommand: encode, channel, decode, with the channel's report."""

import json

import pytest

from ostrel_mbe import wav
from ostrel_mbe.__main__ import bundled_speech, main


@pytest.mark.parametrize("channel_args, decoding", [
    (["--esn0", "1.3"], "soft"),
    (["--esn0", "1.3", "--modulation", "dibits", "--hard"], "hard"),
    (["--ber", "0.05", "--burst", "6"], "hard"),
])
def test_simulate_writes_audio_and_reports_the_channel(tmp_path, capsys, channel_args, decoding):
    clip = tmp_path / "clip.wav"
    wav.write(str(clip), wav.load_pcm(bundled_speech())[:16000])
    reports = []
    for name in ("a.wav", "b.wav"):
        out = tmp_path / name
        assert main(["simulate", "--rate", "ambe3600", *channel_args, "--seed", "4", "--json", str(clip), str(out)]) == 0
        reports.append(json.loads(capsys.readouterr().out))
        assert wav.load_pcm(out).size == 100 * 160
    assert reports[0]["raw_bit_error_rate"] == reports[1]["raw_bit_error_rate"]  # seeded
    assert reports[0]["decoding"] == decoding and 0.02 < reports[0]["raw_bit_error_rate"] < 0.2
    assert {"frames_repeated", "frames_muted"} <= reports[0].keys()


def test_simulate_refuses_options_of_the_other_channel(tmp_path, capsys):
    assert main(["simulate", "--ber", "0.01", "--hard", str(bundled_speech()), str(tmp_path / "x.wav")]) == 2
    assert "--modulation and --hard go with --esn0" in capsys.readouterr().err
