# SPDX-License-Identifier: GPL-2.0-or-later
"""tools/plot_figures.py reads the benchmark scripts' JSON as they write it."""

import importlib.util
from pathlib import Path

spec = importlib.util.spec_from_file_location(
    "plot_figures", Path(__file__).resolve().parents[2] / "tools" / "plot_figures.py")
plot_figures = importlib.util.module_from_spec(spec)
spec.loader.exec_module(plot_figures)


def result(family, pesq, stoi=0.9, available=True, **settings):
    """One entry of bench/quality.py --json results."""
    return {"family": family, "settings": settings, "available": available,
            "pesq": {"mean": pesq, "min": pesq - 0.5}, "stoi": {"mean": stoi, "min": stoi - 0.1},
            "p808": {"mean": 3.3, "min": 3.0}}


def test_quality_rows_keep_default_settings_and_every_other_coder():
    payload = {"results": {
        "ambe3600 classical/compat/ambe_plus/std": result(
            "ostrel_mbe", 2.9, enhancement="classical", pitch="std", ambe_plus2_synth="ambe_plus"),
        "ambe3600 classical/compat/baseline/std": result(
            "ostrel_mbe", 2.8, enhancement="classical", pitch="std", ambe_plus2_synth="baseline"),
        "imbe7200 none/compat/std": result("ostrel_mbe", 3.0, enhancement="none", pitch="std"),
        "imbe7200 classical/standard/std": result("ostrel_mbe", 3.1, enhancement="classical", pitch="std",
                                                  formant_weighting="standard"),
        "imbe7200->ambe3600 classical/compat": result("ostrel_mbe transcode", 2.8),
        "ambe3600 classical/standard/ambe_plus/std/plain": result(
            "ostrel_mbe", 2.7, enhancement="classical", pitch="std", ambe_plus2_synth="ambe_plus",
            formant_weighting="standard", quantizer_search="plain"),
        "ambe3600 classical/standard/ambe_plus/std/search": result(
            "ostrel_mbe", 2.75, enhancement="classical", pitch="std", ambe_plus2_synth="ambe_plus",
            formant_weighting="standard", quantizer_search="search"),
        "codec2 1600": result("codec2", 2.6),
        "speex nb q1": result("speex", 2.7, available=False),
    }}
    # The command line's rows (standard weighting, the search into the half rates) are marked.
    assert [row[0] for row in plot_figures.quality_rows(payload)] == [
        "imbe7200 classical/standard/std [command line]", "imbe7200->ambe3600 classical/compat",
        "ambe3600 classical/compat/ambe_plus/std", "ambe3600 classical/standard/ambe_plus/std/plain",
        "ambe3600 classical/standard/ambe_plus/std/search [command line]", "codec2 1600"]
    assert plot_figures.quality_rows(payload)[0][1:] == (3.1, 2.6, 0.9, 3.3)


def test_speed_rows_keep_timed_coders():
    payload = {"speech": "clip", "results": {  # the shape of bench/python_bench.py --json
        "imbe4400": {"available": True, "encode_fps": 2000.0, "decode_fps": 6000.0},
        "imbe7200": {"available": False, "reason": "n/a"},
    }}
    assert plot_figures.speed_rows(payload) == [("imbe4400", 2000.0, 6000.0)]
    assert plot_figures.speed_rows({}) == []
