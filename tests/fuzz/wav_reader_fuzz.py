# SPDX-License-Identifier: GPL-2.0-or-later
"""Fuzz target of the audio file reader of the ostrel_mbe package (atheris, libFuzzer's engine).

Each input is a file's bytes.  wav.load_pcm, the command line's reader (soundfile reads it in
blocks, they are mixed down and resampled to 8 kHz by soxr), must return 1-D int16 samples or raise WavError: any other exception is a
finding, and so is a peak allocation above ALLOWANCE plus FACTOR times the file's size (a
header must not make the reader allocate by what it claims rather than by what the file holds).

    python tests/fuzz/wav_reader_fuzz.py [libFuzzer options] CORPUS_DIR...
"""

import os
import sys
import tempfile
import tracemalloc

import atheris
import numpy as np  # imported before instrumenting: only the package's own code is traced

with atheris.instrument_imports():
    from ostrel_mbe import wav

# Reading 8-bit mono at the lowest readable rate keeps float copies of twice as many samples
# as the file has bytes; the resampler's filter and work blocks add a bounded few MB.
FACTOR = 64
ALLOWANCE = 8 << 20

_fd, PATH = tempfile.mkstemp(prefix="wav_reader_fuzz.", suffix=".wav", dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
os.close(_fd)


def test_one_input(data: bytes) -> None:
    with open(PATH, "wb") as f:
        f.write(data)
    tracemalloc.reset_peak()
    try:
        pcm = wav.load_pcm(PATH)
    except wav.WavError:
        pcm = None
    _, peak = tracemalloc.get_traced_memory()
    if pcm is not None and (pcm.dtype != np.int16 or pcm.ndim != 1):
        raise AssertionError(f"load_pcm returned {pcm.dtype} of shape {pcm.shape}")
    if peak > ALLOWANCE + FACTOR * len(data):
        raise AssertionError(f"{peak} bytes allocated for a file of {len(data)} bytes")


def main() -> None:
    tracemalloc.start()
    try:
        atheris.Setup(sys.argv, test_one_input)
        atheris.Fuzz()
    finally:
        os.unlink(PATH)


if __name__ == "__main__":
    main()
