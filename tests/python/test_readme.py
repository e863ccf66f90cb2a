# SPDX-License-Identifier: GPL-2.0-or-later
"""The README's examples, run as written, in order, in one scratch folder.

- ```python blocks run in one shared namespace, like a session.
- ```sh blocks run in bash with -euo pipefail; when a ```text block follows, the output must
  equal it.
- ```c, ```cpp and ```cmake blocks are written to example.c, main.cpp and CMakeLists.txt; the
  ```sh block after them builds and runs them against the installed library, which
  tools/test_all.sh installs and names in OSTREL_INSTALL_PREFIX (skipped without it).
- A block right after a line "<!-- not tested: reason -->" is skipped.
"""

import os
import re
import subprocess
import sys
from pathlib import Path

import pytest

README = Path(__file__).resolve().parents[2] / "README.md"
SOURCE_FILES = {"c": "example.c", "cpp": "main.cpp", "cmake": "CMakeLists.txt"}
FENCE = re.compile(r"^```(\w*)\s*$")


def blocks():
    """(language, code, skipped) of every fenced block, in order."""
    out, lines = [], README.read_text().splitlines()
    i, previous = 0, ""
    while i < len(lines):
        start = FENCE.match(lines[i])
        if not start:
            if lines[i].strip():
                previous = lines[i].strip()
            i += 1
            continue
        end = next(j for j in range(i + 1, len(lines)) if lines[j].startswith("```"))
        out.append((start.group(1), "\n".join(lines[i + 1:end]) + "\n", previous.startswith("<!-- not tested")))
        i, previous = end + 1, ""
    return out


def groups():
    """Runnable steps: ("python", code), ("sh", code, expected output or None, native)."""
    steps, pending_sources = [], []
    all_blocks = blocks()
    for index, (lang, code, skipped) in enumerate(all_blocks):
        if skipped or lang == "text":
            continue
        if lang in SOURCE_FILES:
            pending_sources.append((SOURCE_FILES[lang], code))
        elif lang == "python":
            steps.append(("python", code))
        elif lang == "sh":
            following = all_blocks[index + 1] if index + 1 < len(all_blocks) else None
            expected = following[1] if following and following[0] == "text" else None
            steps.append(("sh", code, expected, pending_sources))
            pending_sources = []
    return steps


def environment(prefix):
    env = dict(os.environ)
    env["PATH"] = os.pathsep.join([str(Path(sys.executable).parent), env.get("PATH", "")])
    if prefix:
        lib = Path(prefix) / "lib"
        env["PKG_CONFIG_PATH"] = str(lib / "pkgconfig")
        env["CMAKE_PREFIX_PATH"] = prefix
        env["LD_LIBRARY_PATH"] = os.pathsep.join([str(lib), env.get("LD_LIBRARY_PATH", "")])
    return env


def run_steps(tmp_path, native):
    prefix = os.environ.get("OSTREL_INSTALL_PREFIX")
    if native and not prefix:
        pytest.skip("OSTREL_INSTALL_PREFIX names no installed library (tools/test_all.sh sets it)")
    namespace = {"__name__": "__readme__"}
    cwd = os.getcwd()
    os.chdir(tmp_path)
    try:
        for step in groups():
            if step[0] == "python":
                if not native:
                    exec(compile(step[1], str(README), "exec"), namespace)
                continue
            _, code, expected, sources = step
            if bool(sources) != native:
                continue
            for name, text in sources:
                (tmp_path / name).write_text(text)
            r = subprocess.run(["bash", "-euo", "pipefail", "-c", code], capture_output=True, text=True,
                               env=environment(prefix), timeout=600)
            assert r.returncode == 0, f"{code}\nstdout:\n{r.stdout}\nstderr:\n{r.stderr}"
            if expected is not None:
                assert r.stdout == expected, code
    finally:
        os.chdir(cwd)


def test_readme_has_examples_of_every_kind():
    kinds = {step[0] for step in groups()} | {name for step in groups() if step[0] == "sh" for name, _ in step[3]}
    assert kinds == {"python", "sh", "example.c", "main.cpp", "CMakeLists.txt"}


def test_readme_python_and_command_line_examples(tmp_path):
    run_steps(tmp_path, native=False)


def test_readme_c_and_cpp_examples(tmp_path):
    run_steps(tmp_path, native=True)
