# SPDX-License-Identifier: GPL-2.0-or-later
"""Every tracked source file names its licence in an SPDX line near its top."""

import shutil
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
SPDX = "SPDX-License-Identifier: GPL-2.0-or-later"
SOURCE_SUFFIXES = {".c", ".h", ".cpp", ".py", ".sh", ".toml", ".in"}
SOURCE_NAMES = {"CMakeLists.txt", "stub_patterns.txt", "run"}


def tracked_sources():
    if shutil.which("git") is None or not (ROOT / ".git").exists():
        pytest.skip("not a git checkout")
    names = subprocess.run(["git", "ls-files"], cwd=ROOT, capture_output=True, text=True, check=True).stdout.split()
    return [n for n in names if Path(n).suffix in SOURCE_SUFFIXES or Path(n).name in SOURCE_NAMES]


def test_every_source_file_has_an_spdx_line():
    missing = [n for n in tracked_sources() if SPDX not in "\n".join((ROOT / n).read_text().splitlines()[:3])]
    assert not missing, f"no '{SPDX}' in the first lines of: {missing}"
