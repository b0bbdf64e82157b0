"""Batches: many files, each ingested once and searched for every target, on
a pool of threads. The rows are those of ``vxrun batch --jsonl``: same
columns, same statuses, flags and messages, same order (file path, then the
targets' order), whatever the number of threads."""

from __future__ import annotations

import glob
import math
import os
import threading
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass, field
from typing import Any, Iterable, Optional, Sequence, Union

from . import _abi
from ._chain import (FIT, TRACE, INGEST_PREFIX, Ingestion, check_fit_values,
                     check_trace_values, fit_documents, ingest_documents, number,
                     read_object, status_message, trace_documents, true_flags)
from ._library import Library
from .errors import VxStepsError

COLUMNS = ("file", "target", "mz", "rt", "status", "spectra", "trace_points",
           "max_intensity", "fit_status", "retention_time", "height", "width",
           "area", "baseline", "r_squared", "iterations", "flags", "message")
_INTEGER_COLUMNS = ("spectra", "trace_points", "iterations")


@dataclass
class Target:
    """A compound to look for: m/z and retention time (minutes), the m/z
    tolerance (daltons) or an exact match, the fit window's half-width
    (minutes) and the solver's iteration limit. Without a name it is called
    "<mz>@<rt>", as vxrun names its --mz/--rt target."""

    mz: float
    rt: float
    name: Optional[str] = None
    mz_tol: float = 0.5
    rt_tol: float = 0.3
    exact: bool = False
    max_iter: int = 100

    def __post_init__(self) -> None:
        self.mz, self.rt = float(self.mz), float(self.rt)
        self.mz_tol, self.rt_tol = float(self.mz_tol), float(self.rt_tol)
        check_trace_values(self.mz, self.mz_tol)
        check_fit_values(self.rt, self.rt_tol, self.max_iter)
        self.max_iter = int(self.max_iter)
        self.exact = _truth(self.exact)
        if self.name is None:
            self.name = shortest_text(self.mz) + "@" + shortest_text(self.rt)


def _truth(value: Any) -> bool:
    """exact as a targets table may spell it (true/false, yes/no, 1/0, y/n)."""
    if isinstance(value, str):
        word = value.strip().lower()
        if word in ("true", "yes", "1", "y"):
            return True
        if word in ("false", "no", "0", "n"):
            return False
        raise ValueError(f"exact must be true or false, not {value!r}")
    return bool(value)


TargetLike = Union[Target, dict, Sequence[Any]]


def shortest_text(value: float) -> str:
    """The shortest text that reads back to value, plain or in exponent form
    (at least two exponent digits), whichever is shorter, plain on a tie:
    the form vxrun writes numbers in."""
    if math.isnan(value):
        return "NaN"
    if math.isinf(value):
        return "Infinity" if value > 0 else "-Infinity"
    sign = "-" if math.copysign(1.0, value) < 0 else ""
    mantissa, _, exp = repr(abs(value)).partition("e")
    whole, _, frac = mantissa.partition(".")
    digits = (whole + frac).lstrip("0")
    point = len(whole) + int(exp or 0) - (len(whole + frac) - len((whole + frac).lstrip("0")))
    digits = digits.rstrip("0")
    if not digits:
        return sign + "0"
    if point <= 0:
        plain = "0." + "0" * -point + digits
    elif point >= len(digits):
        plain = digits + "0" * (point - len(digits))
    else:
        plain = digits[:point] + "." + digits[point:]
    e = point - 1
    sci = digits[0] + ("." + digits[1:] if len(digits) > 1 else "") + \
        ("e-" if e < 0 else "e+") + f"{abs(e):02d}"
    return sign + (plain if len(plain) <= len(sci) else sci)


def as_targets(targets: Union[Iterable[TargetLike], Any]) -> list[Target]:
    """Targets from Target objects, dicts with Target's field names,
    (mz, rt) or (name, mz, rt) tuples, or a pandas DataFrame with those
    columns."""
    if hasattr(targets, "to_dict") and hasattr(targets, "columns"):
        targets = [{k: v for k, v in row.items() if not _missing(v)}
                   for row in targets.to_dict("records")]
    out = []
    for t in targets:
        if isinstance(t, Target):
            out.append(t)
        elif isinstance(t, dict):
            out.append(Target(**t))
        elif len(t) == 3:
            out.append(Target(t[1], t[2], name=str(t[0])))
        else:
            out.append(Target(*t))
    if not out:
        raise ValueError("no targets given")
    names = [t.name for t in out]
    if len(set(names)) != len(names):
        raise ValueError("target names must be unique")
    return out


def _missing(v: Any) -> bool:
    return v is None or (isinstance(v, float) and math.isnan(v))


@dataclass
class BatchFile:
    path: str
    problem: str = ""  # set: the input never reaches the ingestion step
    message: str = ""


def _mzml_name(name: str) -> bool:
    lower = name.lower()
    return lower.endswith(".mzml") or lower.endswith(".mzml.gz")


def expand_inputs(inputs: Iterable[Union[str, "os.PathLike[str]"]]) -> list[BatchFile]:
    """Files from paths, folders (their .mzML and .mzML.gz entries, any
    letter case, not recursive) and glob patterns, sorted by path without
    duplicates. A folder without such files gives one entry that says so; a
    pattern that matches nothing stays as given (its rows say
    file_not_found)."""
    if isinstance(inputs, (str, os.PathLike)):
        inputs = [inputs]
    files: list[BatchFile] = []
    for arg in map(os.fspath, inputs):
        if os.path.isdir(arg):
            try:
                found = [os.path.join(arg, e.name) for e in os.scandir(arg)
                         if _mzml_name(e.name)]
                message = "the folder holds no .mzML or .mzML.gz file"
            except OSError as e:
                found, message = [], "cannot list the folder: " + (e.strerror or str(e))
            files += [BatchFile(p) for p in found] or [BatchFile(arg, "no_mzml_files", message)]
            continue
        if not os.path.lexists(arg) and any(c in arg for c in "*?["):
            matches = sorted(glob.glob(arg))
            if matches:
                files += [BatchFile(p) for p in matches]
                continue
        files.append(BatchFile(arg))
    files.sort(key=lambda f: os.fsencode(f.path))
    unique: list[BatchFile] = []
    for f in files:
        if not unique or unique[-1].path != f.path:
            unique.append(f)
    return unique


@dataclass
class TargetRun:
    status: str = "ok"
    message: str = ""
    trace_points: Optional[int] = None
    max_intensity: Optional[float] = None
    fit: dict = field(default_factory=dict)
    flags: list = field(default_factory=list)


def run_target(lib: Library, spectra: _abi.Value, target: Target) -> TargetRun:
    """Trace and fit of one target on a spectra document, as vxrun runs them:
    a failing step or an unreadable document ends the run with step_failed."""
    run = TargetRun()
    try:
        res = trace_documents(lib, spectra, target.mz, target.mz_tol, target.exact)
        if res.status != _abi.STATUS_OK:
            raise VxStepsError(status_message(TRACE, res.status))
        trace = read_object(res.outputs[1] or b"", "the trace document")
        count = number(trace, "matched_ion_count")
        run.trace_points = int(count) if count is not None and count >= 0 else None
        run.max_intensity = number(trace, "max_intensity")
        run.flags += true_flags(read_object(res.outputs[0] or b"", "the trace diagnostics"))
        res = fit_documents(lib, res.outputs[1] or b"", target.rt, target.rt_tol,
                            target.max_iter)
        if res.status != _abi.STATUS_OK:
            raise VxStepsError(status_message(FIT, res.status))
        run.fit = read_object(res.outputs[1] or b"", "the fit result document")
        run.flags += true_flags(read_object(res.outputs[0] or b"", "the fit diagnostics"))
    except VxStepsError as e:
        run.status, run.message = "step_failed", str(e)
    return run


def _finite(v: Optional[float]) -> Optional[float]:
    return v if v is not None and math.isfinite(v) else None


def problem_row(file: str, target: Target, status: str, message: str) -> dict:
    row: dict = dict.fromkeys(COLUMNS)
    row.update(file=file, target=target.name, mz=_finite(target.mz),
               rt=_finite(target.rt), status=status, flags=[], message=message)
    return row


def make_row(file: str, ing: Ingestion, target: Target, run: Optional[TargetRun]) -> dict:
    """One table row; run is None when the file could not be used."""
    row = problem_row(file, target, ing.status, ing.message)
    row["spectra"] = ing.spectrum_count
    if ing.diagnostics:
        row["flags"].append(INGEST_PREFIX + ing.status)
    if run is None:
        return row
    # The file's own problem (no spectra) stays the row's status: it is the
    # cause, a failing step after it only a consequence.
    if run.status != "ok" and row["status"] == "ok":
        row["status"], row["message"] = run.status, run.message
    elif run.status != "ok":
        row["message"] += "; " + run.message
    fit = run.fit
    iterations = number(fit, "solver_iterations")
    status = fit.get("fit_status")
    row.update(
        trace_points=run.trace_points, max_intensity=_finite(run.max_intensity),
        fit_status=status if isinstance(status, str) and status else None,
        retention_time=_finite(number(fit, "fitted_retention_time")),
        height=_finite(number(fit, "peak_height")), width=_finite(number(fit, "peak_width")),
        area=_finite(number(fit, "peak_area")), baseline=_finite(number(fit, "baseline")),
        r_squared=_finite(number(fit, "r_squared")),
        iterations=int(iterations) if iterations is not None and math.isfinite(iterations)
        else None)
    row["flags"] += run.flags
    return row


class _Helpers:
    """Runs n items on the calling thread and on idle workers of a shared
    pool: a helper that starts after the caller took the last item does
    nothing, so the caller never waits for a worker busy elsewhere. At most
    `slots` threads (file jobs and helpers together) run steps at once."""

    def __init__(self, pool: Optional[ThreadPoolExecutor], extra: int):
        self.pool, self.extra = pool, extra
        self.slots = threading.Semaphore(extra + 1)

    def run_all(self, n: int, work) -> None:
        lock = threading.Lock()
        state = {"next": 0, "active": 0}
        done = threading.Condition(lock)

        def take() -> None:
            while True:
                with lock:
                    i = state["next"]
                    if i >= n:
                        return
                    state["next"] = i + 1
                work(i)

        def helper() -> None:
            with self.slots:
                with lock:
                    if state["next"] >= n:
                        return
                    state["active"] += 1
                try:
                    take()
                finally:
                    with lock:
                        state["active"] -= 1
                        done.notify_all()

        if self.pool is not None:
            for _ in range(min(self.extra, n - 1)):
                self.pool.submit(helper)
        take()
        with lock:
            done.wait_for(lambda: state["active"] == 0)


def _file_rows(lib: Library, f: BatchFile, targets: list[Target],
               helpers: _Helpers) -> list[dict]:
    if f.problem:
        return [problem_row(f.path, t, f.problem, f.message) for t in targets]
    runs: list[Optional[TargetRun]] = [None] * len(targets)

    # The targets run while the ingestion step still holds the spectra
    # document, straight from its buffer: the document is never copied.
    def visit(spectra: _abi.RawText) -> None:
        def one(i: int) -> None:
            runs[i] = run_target(lib, spectra, targets[i])
        helpers.run_all(len(targets), one)

    ing = ingest_documents(lib, f.path, visit)
    return [make_row(f.path, ing, t, runs[i] if ing.handed_over else None)
            for i, t in enumerate(targets)]


def batch_rows(files: Union[Iterable[Union[str, "os.PathLike[str]"]], str],
               targets: Union[Iterable[TargetLike], Any], jobs: int = 2,
               library: Union[Library, str, None] = None) -> list[dict]:
    """The rows of batch() as dicts (None for absent values, flags a list),
    equal to ``json.loads`` of each line of ``vxrun batch --jsonl``."""
    lib = library if isinstance(library, Library) else Library(library)
    wanted = as_targets(targets)
    inputs = expand_inputs(files)
    jobs = max(1, int(jobs) if jobs else (os.cpu_count() or 1))
    if jobs == 1:
        per_file = [_file_rows(lib, f, wanted, _Helpers(None, 0)) for f in inputs]
    else:
        # Files take `jobs` threads; their targets borrow idle ones from a
        # second pool, which is only ever helped, never waited for.
        with ThreadPoolExecutor(jobs - 1) as spare, ThreadPoolExecutor(jobs) as pool:
            helpers = _Helpers(spare, jobs - 1)
            def job(f: BatchFile) -> list[dict]:
                with helpers.slots:
                    return _file_rows(lib, f, wanted, helpers)
            per_file = list(pool.map(job, inputs))
    return [row for rows in per_file for row in rows]


def batch(files: Union[Iterable[Union[str, "os.PathLike[str]"]], str],
          targets: Union[Iterable[TargetLike], Any], jobs: int = 2,
          library: Union[Library, str, None] = None):
    """Runs the chain on every file and target on ``jobs`` threads (0: one
    per core) and returns a pandas DataFrame with the columns of ``vxrun
    batch``: file, target, mz, rt, status, spectra, trace_points,
    max_intensity, fit_status, retention_time, height, width, area,
    baseline, r_squared, iterations, flags (a list), message. A file that
    cannot be used gets rows that say why (``status``) and never stops the
    batch. Absent numbers are NaN (``<NA>`` in the integer columns)."""
    return to_frame(batch_rows(files, targets, jobs, library))


def to_frame(rows: list[dict]):
    """A DataFrame of table rows (from batch_rows or vxrun's JSON Lines)."""
    import pandas as pd

    frame = pd.DataFrame.from_records(rows, columns=list(COLUMNS))
    for c in _INTEGER_COLUMNS:
        frame[c] = frame[c].astype("Int64")
    for c in ("mz", "rt", "max_intensity", "retention_time", "height", "width",
              "area", "baseline", "r_squared"):
        frame[c] = frame[c].astype("float64")
    return frame
