"""tools/plot_figures.py reads the benchmark scripts' JSON as they write it."""

import importlib.util
from pathlib import Path

spec = importlib.util.spec_from_file_location(
    "plot_figures", Path(__file__).resolve().parents[2] / "tools" / "plot_figures.py")
plot_figures = importlib.util.module_from_spec(spec)
spec.loader.exec_module(plot_figures)


def test_quality_rows_keep_scored_coders_by_bit_rate():
    payload = {"results": {  # the shape of bench/quality.py --json
        "ambe3600": {"available": True, "mean": 2.9, "min": 2.4},
        "imbe7200": {"available": True, "mean": 3.0, "min": 2.5},
        "ambe2450": {"available": False, "reason": "n/a", "mean": None, "min": None},
        "codec2 1600": {"available": True, "mean": 2.8, "min": 2.3},
    }}
    assert plot_figures.quality_rows(payload) == [
        ("imbe7200", 3.0, 2.5), ("ambe3600", 2.9, 2.4), ("codec2 1600", 2.8, 2.3)]


def test_speed_rows_keep_timed_coders():
    payload = {"speech": "clip", "results": {  # the shape of bench/python_bench.py --json
        "imbe4400": {"available": True, "encode_fps": 2000.0, "decode_fps": 6000.0},
        "imbe7200": {"available": False, "reason": "n/a"},
    }}
    assert plot_figures.speed_rows(payload) == [("imbe4400", 2000.0, 6000.0)]
    assert plot_figures.speed_rows({}) == []
