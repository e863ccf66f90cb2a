# SPDX-License-Identifier: GPL-2.0-or-later
"""Smoke test of the wheel, run by tools/test_all.sh in a fresh virtualenv outside the source
tree: everything a user touches first must come from the installed wheel alone."""

import importlib.metadata
import shutil
import subprocess
import sys
from pathlib import Path

import numpy as np

import _ostrel_mbe
import ostrel_mbe
from ostrel_mbe.__main__ import bundled_speech

for module in (_ostrel_mbe, ostrel_mbe):
    assert "site-packages" in Path(module.__file__).parts, f"{module.__name__} from {module.__file__}"
assert (Path(_ostrel_mbe.__file__).parent / "_ostrel_mbe.pyi").is_file(), "type stub missing"
assert bundled_speech().is_file(), "bundled speech missing"
assert importlib.metadata.metadata("ostrel_mbe")["License-Expression"] == "GPL-2.0-or-later"

# The wheel is self-contained: the extension finds FFTW inside the wheel, and everything else it
# loads is a system library that the manylinux policy lets a wheel assume.
MANYLINUX_SYSTEM = ("linux-vdso.so", "ld-linux", "libc.so", "libm.so", "libstdc++.so", "libgcc_s.so",
                    "libpthread.so", "libdl.so", "librt.so")
extension = Path(_ostrel_mbe.__file__)
if shutil.which("ldd"):
    site_packages = extension.parent.resolve()
    loaded = {}
    for line in subprocess.run(["ldd", extension], check=True, capture_output=True, text=True).stdout.splitlines():
        name, _, where = line.strip().partition(" => ")
        loaded[Path(name.split()[0]).name] = where.split(" (")[0]
    assert "not found" not in loaded.values(), f"unresolved libraries: {loaded}"
    inside = {n for n, p in loaded.items() if p and Path(p).resolve().is_relative_to(site_packages)}
    outside = {n for n in loaded if n not in inside and not n.startswith(MANYLINUX_SYSTEM)}
    assert not outside, f"libraries from outside the wheel: {outside}"
    assert any(n.startswith("libfftw3") for n in inside), f"FFTW not in the wheel: {loaded}"
notice = [f for f in importlib.metadata.files("ostrel_mbe") if f.name == "FFTW-NOTICE.md"]
assert notice and "FFTW" in notice[0].read_text(), "FFTW's licence notice missing"

encoder = ostrel_mbe.Vocoder(ostrel_mbe.Rate.IMBE_7200X4400)
frame = encoder.encode_pcm(np.zeros(160, dtype=np.int16))
pcm = ostrel_mbe.Vocoder(ostrel_mbe.Rate.IMBE_7200X4400).decode_bits(frame)
assert len(frame) == 18 and pcm.shape == (160,) and pcm.dtype == np.int16

for args in (["--help"], ["info", "--help"]):
    subprocess.run([sys.executable, "-m", "ostrel_mbe", *args], check=True, capture_output=True)
subprocess.run(["ostrel-mbe", "--help"], check=True, capture_output=True)
print(f"wheel smoke test passed: ostrel_mbe {_ostrel_mbe.__version__} from {Path(ostrel_mbe.__file__).parent}")
