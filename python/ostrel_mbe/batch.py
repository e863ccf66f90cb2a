# SPDX-License-Identifier: GPL-2.0-or-later
"""One command of the command line over many files, on a local process pool or on any
`concurrent.futures.Executor` (a Dask cluster's `Client.get_executor()` included).

    entries = ostrel_mbe.batch.run("encode", ["corpus"], "coded", rate="ambe3600", workers=2)

`run` plans one task per output, mirroring the inputs' relative paths under the output folder,
skips the outputs an earlier run completed with the same options (as its report records them),
removes the temporary files an interrupted run left behind, and sends the rest to the executor
as calls of `process`: a plain function of (command, input, output, options) whose arguments
are strings and a dict of command-line option values, so any machine with the package installed
and the same files at the same paths can run it.  `process` runs the single-file command's own
code, so every output is byte-identical to what that command writes, with the same rule that an
output appears only once complete.  One bad file fails alone: its error goes in its report entry.
"""

from __future__ import annotations

import argparse
import concurrent.futures as cf
import functools
import gc
import hashlib
import importlib
import json
import multiprocessing
import os
import sys
import tempfile
import time
from pathlib import PurePosixPath
from typing import Any, Dict, Iterable, Iterator, List, Optional, Sequence, Tuple

COMMANDS = ("encode", "decode", "transcode", "roundtrip", "simulate")
REPORT_NAME = "batch_report.jsonl"
# What a folder is searched for when the command reads audio.
AUDIO_SUFFIXES = (".wav", ".flac", ".ogg", ".oga", ".mp3")
# The single-file commands' arguments that name files or shape what they print: batch sets them
# for every file itself (it prints nothing per file; the report holds what happened).
PER_FILE_DESTS = frozenset({"help", "files", "input", "output", "output_dir", "progress", "json"})
ROUNDTRIP_DEFAULT_RATE = "imbe7200"


class BatchError(ValueError):
    """A batch that cannot start: unknown options, no inputs, two inputs for one output."""


def command_parser(command: str) -> argparse.ArgumentParser:
    """The single-file command's own parser, so a batch takes every option it takes."""
    if command not in COMMANDS:
        raise BatchError(f"unknown command {command!r}: one of {', '.join(COMMANDS)}")
    module = importlib.import_module(f"ostrel_mbe.cli.{command}")
    return module.add_parser(argparse.ArgumentParser().add_subparsers())


def option_actions(parser: argparse.ArgumentParser) -> List[argparse.Action]:
    """The parser's options that are the same for every file of a batch."""
    # argparse has no public list of a parser's arguments; _actions has been stable for years.
    return [a for a in parser._actions if a.dest not in PER_FILE_DESTS and a.dest != argparse.SUPPRESS]


def command_options(command: str, options: Dict[str, Any]) -> Dict[str, Any]:
    """Every option of the command (by its argparse name, `dest`), the defaults filled in and
    checked as the command line checks them, in the JSON form the report records."""
    parser = command_parser(command)
    actions = {a.dest: a for a in option_actions(parser)}
    unknown = sorted(set(options) - set(actions))
    if unknown:
        raise BatchError(f"{command}: unknown options {', '.join(unknown)} (known: {', '.join(sorted(actions))})")
    out = {}
    for dest, action in actions.items():
        value = options.get(dest, action.default)
        if value is None and action.required:
            raise BatchError(f"{command}: {flag(action)} is required")
        if action.choices is not None and value is not None:
            for v in value if isinstance(value, (list, tuple)) else [value]:
                if v not in action.choices:
                    raise BatchError(f"{command}: {flag(action)} {v!r}: one of {', '.join(map(str, action.choices))}")
        out[dest] = value
    for group in parser._mutually_exclusive_groups:
        given = [a for a in group._group_actions if a.dest in actions and out[a.dest] != a.default]
        if len(given) > 1:
            raise BatchError(f"{command}: {flag(given[0])} and {flag(given[1])} exclude each other")
        if group.required and not given:
            raise BatchError(f"{command}: one of {', '.join(flag(a) for a in group._group_actions)} is required")
    from .cli.common import InputError

    try:
        if command == "transcode":
            # A pair of rates no chain of directions joins would fail every file.
            from .cli.transcode import route

            route(out["source"], out["target"])
        check = getattr(importlib.import_module(f"ostrel_mbe.cli.{command}"), "check", None)
        if check is not None:
            check(argparse.Namespace(**{**_defaults(command), **out}))
    except InputError as e:
        raise BatchError(str(e)) from None
    return json.loads(json.dumps(out))


def flag(action: argparse.Action) -> str:
    return action.option_strings[0] if action.option_strings else action.dest


def file_seed(seed: int, rel: PurePosixPath) -> int:
    """A file's own seed, from the batch's seed and the file's relative path alone, so that a
    file's output depends neither on the order of the files nor on the number of workers."""
    digest = hashlib.sha256(f"{seed}:{rel.as_posix()}".encode("utf-8", "surrogateescape")).digest()
    return int.from_bytes(digest[:8], "big") >> 1


# ----------------------------------------------------------------------------- planning


def inside(path: str) -> PurePosixPath:
    """A path as given, made relative: an absolute path loses its root and `..` is dropped, so
    that its mirror under the output folder can never land outside it."""
    parts = [p for p in PurePosixPath(os.path.normpath(path)).parts if p not in ("/", "..", ".")]
    return PurePosixPath(*parts) if parts else PurePosixPath()


def input_suffixes(command: str, options: Dict[str, Any]) -> Tuple[str, ...]:
    if command == "decode":
        return ("." + options["rate"],)
    if command == "transcode":
        return ("." + options["source"],)
    return AUDIO_SUFFIXES


def outputs_of(command: str, options: Dict[str, Any], rel: PurePosixPath) -> List[Tuple[PurePosixPath, Dict[str, Any]]]:
    """The outputs of one input, relative to the output folder, each with its task's options."""
    if command == "encode":
        return [(rel.with_suffix("." + options["rate"]), options)]
    if command == "decode":
        return [(rel.with_suffix(".wav"), options)]
    if command == "transcode":
        return [(rel.with_suffix("." + options["target"]), options)]
    if command == "simulate":
        return [(rel.with_suffix(".wav"), {**options, "seed": file_seed(options["seed"], rel)})]
    # roundtrip writes INPUT.RATE.wav per rate; one task per rate spreads them over the workers.
    return [(rel.with_name(f"{rel.stem}.{r}.wav"), {**options, "rate": [r]})
            for r in dict.fromkeys(options.get("rate") or [ROUNDTRIP_DEFAULT_RATE])]


def expand(inputs: Sequence[str], suffixes: Tuple[str, ...], out_dir: str) -> Iterator[Tuple[str, PurePosixPath]]:
    """(path, relative path) of every input file: files as named, folders searched recursively
    for the suffixes (hidden entries and the output folder left out), @LIST files one path a line."""
    out_real = os.path.realpath(out_dir)
    for given in inputs:
        if given.startswith("@"):
            try:
                with open(given[1:], encoding="utf-8") as f:
                    listed = [line.strip() for line in f]
            except OSError as e:
                raise BatchError(f"{given[1:]}: {e.strerror or e}") from None
            yield from expand([p for p in listed if p and not p.startswith("#")], suffixes, out_dir)
        elif os.path.isdir(given):
            for folder, dirs, files in os.walk(given):
                dirs[:] = sorted(d for d in dirs if not d.startswith(".")
                                 and os.path.realpath(os.path.join(folder, d)) != out_real)
                for name in sorted(files):
                    if not name.startswith(".") and name.lower().endswith(suffixes):
                        path = os.path.join(folder, name)
                        yield path, inside(path)
        else:
            # A missing file is planned too: it fails alone, with its error in the report.
            yield given, inside(given)


class Task:
    def __init__(self, source: str, rel_output: PurePosixPath, out_dir: str, options: Dict[str, Any]) -> None:
        self.input = os.path.abspath(source)
        self.rel_output = rel_output.as_posix()
        self.output = os.path.join(os.path.abspath(out_dir), *rel_output.parts)
        self.options = options


def plan(command: str, inputs: Sequence[str], out_dir: str, options: Dict[str, Any]) -> List[Task]:
    tasks: Dict[str, Task] = {}
    for source, rel in expand(inputs, input_suffixes(command, options), out_dir):
        if not rel.parts:
            raise BatchError(f"{source}: not a file")
        for rel_output, task_options in outputs_of(command, options, rel):
            task = Task(source, rel_output, out_dir, task_options)
            other = tasks.setdefault(task.rel_output, task)
            if os.path.realpath(other.input) != os.path.realpath(task.input):
                raise BatchError(f"{other.input} and {task.input} would both be written to {task.output}")
    real_inputs = {os.path.realpath(t.input) for t in tasks.values()}
    for task in tasks.values():
        if os.path.realpath(task.output) in real_inputs:
            raise BatchError(f"{task.output}: the output would replace an input")
    return list(tasks.values())


# ----------------------------------------------------------------------------- one file


def process(command: str, source: str, output: str, options: Dict[str, Any]) -> Dict[str, Any]:
    """Runs the single-file command on one file (`options` as `command_options` gives them) and
    returns its report entry; an error is caught and reported in the entry, not raised."""
    start = time.perf_counter()
    entry: Dict[str, Any] = {"status": "ok", "audio_seconds": None, "frames": None, "bytes": None, "error": None,
                             "warning": None}
    warnings: List[str] = []
    try:
        module = importlib.import_module(f"ostrel_mbe.cli.{command}")
        os.makedirs(os.path.dirname(output), exist_ok=True)
        # What the command line would give the command: every argument's default, then ours.
        values = dict(_defaults(command))
        values.update(options, input=source, output=output, output_dir=os.path.dirname(output), progress="never",
                      quiet=True, warnings=warnings)
        module.run(argparse.Namespace(**values))
        if warnings:
            entry["warning"] = "; ".join(warnings)
        entry.update(measure(command, output, options))
    except Exception as e:  # noqa: BLE001  one bad file fails alone, whatever went wrong
        entry.update(status="failed", error=str(e) or type(e).__name__)
    if entry["status"] == "failed":
        # The error's traceback may hold the file's codec objects in a reference cycle: they are
        # bound to this thread, so they are collected here, not on whichever thread of a Dask
        # worker next runs the collector.
        gc.collect()
    entry["wall_seconds"] = round(time.perf_counter() - start, 3)
    return entry


@functools.lru_cache(maxsize=None)
def _defaults(command: str) -> Dict[str, Any]:
    return {a.dest: a.default for a in command_parser(command)._actions if a.dest != argparse.SUPPRESS}


def measure(command: str, output: str, options: Dict[str, Any]) -> Dict[str, Any]:
    from . import Vocoder, wav
    from .cli.common import RATES

    size = os.path.getsize(output)
    if command in ("decode", "roundtrip", "simulate"):
        import soundfile

        samples = soundfile.info(output).frames
        return {"audio_seconds": samples / wav.SAMPLE_RATE, "frames": samples // wav.FRAME_SAMPLES, "bytes": size}
    rate = options["rate"] if command == "encode" else options["target"]
    frames = size // Vocoder(RATES[rate]).fec_frame_bytes
    return {"audio_seconds": frames * wav.FRAME_SAMPLES / wav.SAMPLE_RATE, "frames": frames, "bytes": size}


# ----------------------------------------------------------------------------- the report


def read_report(path: str) -> Dict[str, Dict[str, Any]]:
    """The last entry of every output in an earlier report (a line cut short by an interrupted
    run is ignored)."""
    entries: Dict[str, Dict[str, Any]] = {}
    try:
        with open(path, encoding="utf-8") as f:
            for line in f:
                try:
                    entry = json.loads(line)
                except ValueError:
                    continue
                if isinstance(entry, dict) and "output" in entry:
                    entries[entry["output"]] = entry
    except FileNotFoundError:
        pass
    return entries


def is_complete(task: Task, command: str, entry: Optional[Dict[str, Any]]) -> bool:
    return (entry is not None and entry.get("status") in ("ok", "skipped") and entry.get("command") == command
            and entry.get("options") == task.options and os.path.isfile(task.output)
            and os.path.getsize(task.output) == entry.get("bytes"))


def write_lines(path: str, entries: Iterable[Dict[str, Any]]) -> None:
    """Starts the report: written beside it and renamed, so an earlier report is never half lost."""
    fd, temp = tempfile.mkstemp(prefix=f".{os.path.basename(path)}.", suffix=".part", dir=os.path.dirname(path))
    with os.fdopen(fd, "w", encoding="utf-8") as f:
        f.writelines(json.dumps(e) + "\n" for e in entries)
    os.replace(temp, path)


# ----------------------------------------------------------------------------- the batch


def default_workers() -> int:
    try:
        return len(os.sched_getaffinity(0))
    except AttributeError:
        return os.cpu_count() or 1


def run(command: str, inputs: Sequence[str], out_dir: str, *, executor: Optional[cf.Executor] = None,
        workers: Optional[int] = None, force: bool = False, progress: bool = False,
        **options: Any) -> List[Dict[str, Any]]:
    """Runs `command` ("encode", "decode", "transcode", "roundtrip" or "simulate") over `inputs` (files,
    folders searched recursively, "@LIST" files of one path a line) into `out_dir`, with the
    command-line options of that command by their argparse names (`rate="ambe3600"`,
    `source=`/`target=` for transcode's --from/--to, `formant_weighting="compat"`, `ber=0.01`);
    simulate gives each file the seed `file_seed(seed, its relative path)`.

    The tasks run on `executor` when given (any concurrent.futures.Executor, e.g. a Dask
    client's get_executor()), else on a local pool of `workers` processes (default: one per
    CPU).  Outputs complete from an earlier run with the same options are skipped unless
    `force`.  Returns one report entry per output, in the order of the inputs; the entries and
    a summary line are also written to out_dir/batch_report.jsonl as the files finish.
    Raises BatchError before anything runs when the batch cannot start."""
    options = command_options(command, options)
    tasks = plan(command, inputs, out_dir, options)
    if not tasks:
        raise BatchError("no input files found")
    os.makedirs(out_dir, exist_ok=True)
    report = os.path.join(out_dir, REPORT_NAME)
    earlier = read_report(report)
    from .cli.files import leftover_temporaries

    entries: Dict[str, Dict[str, Any]] = {}
    todo: List[Task] = []
    for task in tasks:
        for temp in leftover_temporaries(task.output):
            os.unlink(temp)
        entry = earlier.pop(task.rel_output, None)
        if not force and is_complete(task, command, entry):
            entries[task.rel_output] = {**entry, "input": task.input, "status": "skipped", "wall_seconds": 0.0}  # type: ignore[dict-item]
        else:
            todo.append(task)
    # Entries of outputs outside this batch stay, so that a later run over them still skips them.
    write_lines(report, list(earlier.values()) + list(entries.values()))

    start = time.perf_counter()
    if todo:
        _run_tasks(command, todo, report, entries, executor, workers, progress)
    ordered = [entries[t.rel_output] for t in tasks]
    with open(report, "a", encoding="utf-8") as f:
        f.write(json.dumps({"summary": command, **summarize(ordered, time.perf_counter() - start)}) + "\n")
    return ordered


def summarize(entries: List[Dict[str, Any]], wall_seconds: float) -> Dict[str, Any]:
    """Files, failures and speed of a batch: audio done per second of `wall_seconds`."""
    done = [e for e in entries if e["status"] == "ok"]
    audio = sum(e["audio_seconds"] for e in done)
    return {"files": len(entries), "done": len(done), "skipped": sum(e["status"] == "skipped" for e in entries),
            "failures": sum(e["status"] == "failed" for e in entries), "audio_hours": round(audio / 3600, 6),
            "wall_seconds": round(wall_seconds, 3),
            "times_real_time": round(audio / wall_seconds, 2) if done and wall_seconds > 0 else None}


def _run_tasks(command: str, todo: List[Task], report: str, entries: Dict[str, Dict[str, Any]],
               executor: Optional[cf.Executor], workers: Optional[int], progress: bool) -> None:
    own = executor is None
    if executor is None:
        # forkserver: workers start from a clean process, not a fork of one that may run threads.
        context = multiprocessing.get_context("forkserver" if sys.platform == "linux" else None)
        executor = cf.ProcessPoolExecutor(max_workers=max(1, min(workers or default_workers(), len(todo))),
                                          mp_context=context)
    from tqdm import tqdm

    bar = tqdm(total=len(todo), unit="file", desc=f"batch {command}", file=sys.stderr, disable=not progress,
               dynamic_ncols=True)
    audio = 0.0
    futures: Dict[cf.Future, Task] = {}
    try:
        with open(report, "a", encoding="utf-8") as log:
            futures = {executor.submit(process, command, t.input, t.output, t.options): t for t in todo}
            for future in cf.as_completed(futures):
                task = futures[future]
                try:
                    result = future.result()
                except Exception as e:  # noqa: BLE001  a worker lost, a task not run
                    result = {"status": "failed", "audio_seconds": None, "frames": None, "bytes": None,
                              "error": f"{type(e).__name__}: {e}", "wall_seconds": None}
                entry = {"input": task.input, "output": task.rel_output, **result, "command": command,
                         "options": task.options}
                entries[task.rel_output] = entry
                log.write(json.dumps(entry) + "\n")
                log.flush()
                audio += entry["audio_seconds"] or 0.0
                bar.set_postfix_str(f"{audio / 3600:.3f} h of audio", refresh=False)
                bar.update(1)
    finally:
        bar.close()
        for future in futures:
            future.cancel()
        if own:
            executor.shutdown(wait=True, cancel_futures=True)
