"""Batches: many files, each ingested once and searched for every target, on
a pool of threads. The rows are those of ``vxrun batch --jsonl``: same
columns, same statuses, flags and messages, same order (file path, then the
targets' order), whatever the number of threads."""

from __future__ import annotations

import csv
import glob
import io
import math
import os
import threading
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass, field
from typing import TYPE_CHECKING, Any, Callable, Iterable, Optional, TypedDict, Union

from . import _abi
from ._chain import Library
from ._compact import CompactLibrary, TargetDocuments, TraceTotals, compact_library, qualifier_ion
from ._ident import (DEFAULT_RATIO_TOL, DEFAULT_RT_ID_TOL, IDENTIFIED_NO, IDENTIFIED_YES,
                     FileMeasurement, ident_library)
from ._documents import (FIT, FIT_SUCCESS, FLAG_RT_OUTSIDE_RUN, INGEST_PREFIX, ROW_EMPTY_FILE,
                         ROW_NO_MZML_FILES, ROW_OK, ROW_STEP_FAILED, ROW_UNSUPPORTED_ENCODING,
                         TRACE, Ingestion, fit_documents, ingest_documents, number,
                         read_object, status_message, trace_documents, true_flags)
from ._library import StepLibrary
from ._peaks import NOT_DETECTED, DecisionOptions, PeakDecision, PeaksLibrary, peaks_library
from ._review import Review, ReviewArg
from ._targets import PathArg, Target, TargetLike, as_targets, shortest_text
from .errors import VxStepsError

if TYPE_CHECKING:
    import pandas as pd

class Row(TypedDict):
    """One row of a batch table, as ``json.loads`` reads a line of ``vxrun
    batch --jsonl``: None for an absent value, flags a list."""

    file: str
    target: str
    mz: Optional[float]
    rt: Optional[float]
    status: str
    spectra: Optional[int]
    trace_points: Optional[int]
    max_intensity: Optional[float]
    fit_status: Optional[str]
    retention_time: Optional[float]
    height: Optional[float]
    width: Optional[float]
    area: Optional[float]
    baseline: Optional[float]
    r_squared: Optional[float]
    iterations: Optional[int]
    flags: list[str]
    message: str
    review: Optional[str]
    review_digest: Optional[str]
    signal_to_noise: Optional[float]
    detection: Optional[str]
    integrated_area: Optional[float]
    peak_start: Optional[float]
    peak_end: Optional[float]
    asymmetry: Optional[float]
    component_area: Optional[float]
    # Identification (vxrun with --samples, --rt-id-tol, --ratio-tol,
    # --library FILE.msp; here samples=, rt_id_tol=, ratio_tol=): empty when
    # not asked for.
    rt_reference: Optional[float]
    rt_shift: Optional[float]
    reference_ratios: str
    identified: str
    identification_flags: list[str]
    retention_index: Optional[float]  # with a ladder
    match_score: Optional[int]
    reverse_match: Optional[int]


COLUMNS = tuple(Row.__annotations__)
_INTEGER_COLUMNS = ("spectra", "trace_points", "iterations", "match_score", "reverse_match")
_FLOAT_COLUMNS = ("mz", "rt", "max_intensity", "retention_time", "height", "width",
                  "area", "baseline", "r_squared", "signal_to_noise", "integrated_area",
                  "peak_start", "peak_end", "asymmetry", "component_area", "rt_reference",
                  "rt_shift", "retention_index")
# The flag a row gains when its retention index lies outside the ladder.
FLAG_RI_EXTRAPOLATED = "ri_extrapolated"
LadderArg = Union[PathArg, Iterable[tuple[int, float]], None]
SamplesArg = Union[PathArg, Iterable[dict], None]
# Sample types of a sample list; a standard with an amount gives references.
SAMPLE_TYPES = ("standard", "sample", "blank", "qc")
SAMPLE_STANDARD = "standard"
TargetsArg = Union[Iterable[TargetLike], PathArg, Any]
FilesArg = Union[Iterable[PathArg], PathArg]


@dataclass
class BatchFile:
    path: str
    problem: str = ""  # set: the input never reaches the ingestion step
    message: str = ""


def _mzml_name(name: str) -> bool:
    """mzML, gzip mzML and ANDI/AIA netCDF exports (.cdf)."""
    lower = name.lower()
    return lower.endswith(".mzml") or lower.endswith(".mzml.gz") or lower.endswith(".cdf")


def expand_inputs(inputs: FilesArg) -> list[BatchFile]:
    """Files from paths, folders (their .mzML, .mzML.gz and .cdf entries, any
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
                message = "the folder holds no .mzML, .mzML.gz or .cdf file"
            except OSError as e:
                found, message = [], "cannot list the folder: " + (e.strerror or str(e))
            files += [BatchFile(p) for p in found] or [BatchFile(arg, ROW_NO_MZML_FILES, message)]
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
    status: str = ROW_OK
    message: str = ""
    trace_points: Optional[int] = None
    max_intensity: Optional[float] = None
    fit: dict = field(default_factory=dict)
    flags: list = field(default_factory=list)
    decision: Optional[PeakDecision] = None
    # Per qualifier ion (with identification): fit status, area, S/N, detection.
    qualifiers: list = field(default_factory=list)


@dataclass(frozen=True)
class QualifierFit:
    fit_status: Optional[str]
    area: Optional[float]
    signal_to_noise: Optional[float]
    detection: Optional[str]


def _numbers(doc: dict, key: str) -> list:
    v = doc.get(key)
    return v if isinstance(v, list) else []


def run_target(lib: StepLibrary, spectra: _abi.Value, target: Target,
               peaks: Optional[PeaksLibrary] = None,
               options: DecisionOptions = DecisionOptions(),
               qualifiers: bool = False, whole: Optional[TraceTotals] = None,
               ion_spectra: Optional[Callable[[int], _abi.Value]] = None) -> TargetRun:
    """Trace and fit of one target on a spectra document, as vxrun runs them:
    a failing step or an unreadable document ends the run with step_failed.
    With peaks, the fit is decided on the whole trace as vxrun decides it.
    With qualifiers, each qualifier ion is traced and fitted at the target's
    fitted time (its table time when the fit failed), as vxrun does, on
    ion_spectra(i) when given. With whole, spectra holds only the part of
    the run near the fit window: trace_points, max_intensity and the trace
    flags are then those of the whole run."""
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
        status = run.fit.get("fit_status")
        if peaks is not None and isinstance(status, str) and status:
            run.decision = peaks.decide(_numbers(trace, "retention_time"),
                                        _numbers(trace, "intensity"), run.fit,
                                        status == FIT_SUCCESS, options)
    except VxStepsError as e:
        run.status, run.message = ROW_STEP_FAILED, str(e)
    # A trace that could not be read has no totals and no trace flags to mend.
    if whole is not None and run.trace_points is not None:
        run.trace_points, run.max_intensity = whole.points, whole.max_intensity
        run.flags = list(whole.flags) + [f for f in run.flags if f not in whole.decides]
    if qualifiers and target.qualifiers and run.status == ROW_OK:
        fitted = number(run.fit, "fitted_retention_time")
        rt = fitted if run.fit.get("fit_status") == FIT_SUCCESS and fitted is not None \
            and math.isfinite(fitted) else target.rt
        for i, q in enumerate(target.qualifiers):
            ion = qualifier_ion(target, q, rt)
            # Qualifier ions are decided with the default options, as vxrun
            # decides them: their identification criterion is a fixed S/N of
            # 3, not the quantifier's --min-sn.
            qrun = run_target(lib, ion_spectra(i) if ion_spectra is not None else spectra,
                              ion, peaks, DecisionOptions())
            status = qrun.fit.get("fit_status")
            d = qrun.decision
            run.qualifiers.append(QualifierFit(
                (status if isinstance(status, str) else None) if qrun.status == ROW_OK
                else qrun.status, _finite(number(qrun.fit, "peak_area")),
                d.signal_to_noise if d else None, d.detection if d else None))
    return run


def _finite(v: Optional[float]) -> Optional[float]:
    return v if v is not None and math.isfinite(v) else None


def problem_row(file: str, target: Target, status: str, message: str) -> Row:
    return Row(file=file, target=target.name or "", mz=_finite(target.mz),
               rt=_finite(target.rt), status=status, spectra=None, trace_points=None,
               max_intensity=None, fit_status=None, retention_time=None, height=None,
               width=None, area=None, baseline=None, r_squared=None, iterations=None,
               flags=[], message=message, signal_to_noise=None, detection=None,
               integrated_area=None, peak_start=None, peak_end=None, asymmetry=None,
               component_area=None, review=None, review_digest=None, rt_reference=None,
               rt_shift=None, reference_ratios="", identified="", identification_flags=[],
               retention_index=None, match_score=None, reverse_match=None)


def make_row(file: str, ing: Ingestion, target: Target, run: Optional[TargetRun]) -> Row:
    """One table row; run is None when the file could not be used."""
    row = problem_row(file, target, ing.status, ing.message)
    row["spectra"] = ing.spectrum_count
    if ing.diagnostics:
        # The flag is the step's: an empty file is its unsupported_encoding.
        row["flags"].append(INGEST_PREFIX + (ROW_UNSUPPORTED_ENCODING if ing.status == ROW_EMPTY_FILE
                                             else ing.status))
    if run is None:
        return row
    # A file not read as a whole run measured nothing: its numbers stay empty.
    if ing.status != ROW_OK:
        if run.status != ROW_OK:
            row["message"] += "; " + run.message
        status = run.fit.get("fit_status")
        row["fit_status"] = status if isinstance(status, str) and status else None
        row["flags"] += run.flags
        return row
    # The file's own problem (no spectra) stays the row's status: it is the
    # cause, a failing step after it only a consequence.
    if run.status != ROW_OK and row["status"] == ROW_OK:
        row["status"], row["message"] = run.status, run.message
    elif run.status != ROW_OK:
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
    d = run.decision
    if ing.scan_range is not None and (target.rt + abs(target.rt_tol) < ing.scan_range[0]
                                       or target.rt - abs(target.rt_tol) > ing.scan_range[1]):
        # The window never met a scan: the fit's zeros are not a measurement,
        # and there is no peak to judge.
        row.update(retention_time=None, height=None, width=None, area=None, baseline=None,
                   r_squared=None, iterations=None)
        if d is not None:
            row["detection"] = NOT_DETECTED
        row["flags"].append(FLAG_RT_OUTSIDE_RUN)
    elif d is not None:
        row.update(signal_to_noise=d.signal_to_noise, detection=d.detection,
                   integrated_area=d.integrated_area, peak_start=d.peak_start,
                   peak_end=d.peak_end, asymmetry=d.asymmetry,
                   component_area=d.component_area)
        row["flags"] += list(d.flags)
    return row


class _Helpers:
    """Runs n items on the calling thread and on idle workers of a shared
    pool: a helper that starts after the caller took the last item does
    nothing, so the caller never waits for a worker busy elsewhere. At most
    `slots` threads (file jobs and helpers together) run steps at once."""

    def __init__(self, pool: Optional[ThreadPoolExecutor], extra: int):
        self.pool, self.extra = pool, extra
        self.slots = threading.Semaphore(extra + 1)

    def run_all(self, n: int, work: Callable[[int], None]) -> None:
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


def _file_rows(lib: StepLibrary, f: BatchFile, targets: list[Target],
               helpers: _Helpers, peaks: PeaksLibrary, options: DecisionOptions,
               qualifiers: bool = False,
               compact: Optional[CompactLibrary] = None) -> list[tuple[Row, list]]:
    """Each target's row with its qualifier fits (empty unless asked for)."""
    if f.problem:
        return [(problem_row(f.path, t, f.problem, f.message), []) for t in targets]
    runs: list[Optional[TargetRun]] = [None] * len(targets)

    # The targets run while the ingestion step still holds the spectra
    # document, straight from its buffer: the document is never copied. Many
    # targets are traced on compact documents derived from it in one pass.
    def visit(spectra: _abi.RawText) -> None:
        if compact is None:
            def one(i: int) -> None:
                runs[i] = run_target(lib, spectra, targets[i], peaks, options, qualifiers)
            helpers.run_all(len(targets), one)
            return
        with TargetDocuments(compact, spectra, targets, qualifiers) as docs:
            def on_documents(i: int) -> None:
                text, whole = docs.target(i)
                runs[i] = run_target(lib, text, targets[i], peaks, options, qualifiers, whole,
                                     lambda k: docs.ion(i, k))
            helpers.run_all(len(targets), on_documents)

    ing = ingest_documents(lib, f.path, visit)
    out = []
    for i, t in enumerate(targets):
        run = runs[i] if ing.handed_over else None
        out.append((make_row(f.path, ing, t, run), run.qualifiers if run is not None else []))
    return out


def _without_mzml_ending(name: str) -> str:
    for end in (".mzml.gz", ".mzml"):
        if len(name) > len(end) and name.lower().endswith(end):
            return name[:-len(end)]
    return name


def read_samples(samples: SamplesArg, targets: list[Target],
                 paths: list[str]) -> list[tuple[str, list[Optional[float]]]]:
    """(type, amount per target) for each path, as vxrun assigns a sample
    list to a batch's files: an entry names a file by its path, its file
    name or its file name without the .mzML / .mzML.gz ending; files the
    list does not name are samples. ``samples`` is a sample list's path (TSV
    or CSV with the columns file, type and one column per target name) or
    dicts with the keys file, type and target names."""
    names = [t.name or "" for t in targets]
    if isinstance(samples, (str, os.PathLike)):
        source = os.fspath(samples)
        with open(samples, encoding="utf-8-sig") as f:
            text = f.read()
        first = text.split("\n", 1)[0]
        reader = csv.DictReader(io.StringIO(text), delimiter="\t" if "\t" in first else ",")
        entries = [(i + 2, row) for i, row in enumerate(reader)]
    else:
        source = "samples"
        entries = [(i + 1, dict(row)) for i, row in enumerate(samples or [])]
    out: list[tuple[str, list[Optional[float]]]] = [("sample", [None] * len(targets))
                                                     for _ in paths]
    claimed: dict[int, int] = {}
    for line, entry in entries:
        file = str(entry.get("file") or "").strip()
        kind = str(entry.get("type") or "").strip().lower()
        if not file:
            continue
        if kind not in SAMPLE_TYPES:
            raise ValueError(f"{source}:{line}: type must be one of {', '.join(SAMPLE_TYPES)}")
        amounts: list[Optional[float]] = []
        for name in names:
            cell = entry.get(name)
            cell = "" if cell is None else str(cell).strip()
            try:
                amounts.append(float(cell) if cell else None)
            except ValueError:
                raise ValueError(f"{source}:{line}: {name}: '{cell}' is not a number") from None
        hits = [i for i, p in enumerate(paths)
                if file in (p, os.path.basename(p), _without_mzml_ending(os.path.basename(p)))]
        if len(hits) != 1:
            raise ValueError(f"{source}:{line}: file '{file}' " +
                             ("is not among the batch's files" if not hits else
                              f"matches {len(hits)} of the batch's files; give its path"))
        if hits[0] in claimed:
            raise ValueError(f"{source}:{line}: {paths[hits[0]]} is already named on line "
                             f"{claimed[hits[0]]}")
        claimed[hits[0]] = line
        out[hits[0]] = (kind, amounts)
    return out


def _measurement(row: Row, qualifiers: list, standard: bool, n: int) -> FileMeasurement:
    """The criteria's view of one row, as vxrun forms it from the row and its
    qualifier fits: a qualifier counts when its fit succeeded with an area
    and it was not decided not_detected; ratios need a usable quantifier."""
    def usable(status, area, detection) -> bool:
        return status == FIT_SUCCESS and area is not None and math.isfinite(area) \
            and detection != NOT_DETECTED
    area = row["area"]
    base = usable(row["fit_status"], area, row["detection"]) and area > 0
    ratios: list[Optional[float]] = [None] * n
    sn: list[Optional[float]] = [None] * n
    for i, q in enumerate(qualifiers[:n]):
        sn[i] = q.signal_to_noise
        if base and usable(q.fit_status, q.area, q.detection):
            ratios[i] = q.area / area * 100.0
    return FileMeasurement(row["status"] == ROW_OK and row["detection"] == "detected",
                           row["retention_time"], row["signal_to_noise"], ratios, sn, standard)


def _identify(rows: list[Row], qualifier_fits: list[list], targets: list[Target],
              sample_types: list[tuple[str, list[Optional[float]]]], lib_path: str,
              rt_id_tol: float, ratio_tol: float) -> None:
    ident = ident_library(lib_path)
    n_t = len(targets)
    for t, target in enumerate(targets):
        nq = len(target.qualifiers)
        idx = list(range(t, len(rows), n_t))
        files = []
        for f, i in enumerate(idx):
            kind, amounts = sample_types[f] if f < len(sample_types) else ("sample", [])
            standard = kind == SAMPLE_STANDARD and t < len(amounts) and amounts[t] is not None
            files.append(_measurement(rows[i], qualifier_fits[i], standard, nq))
        v = ident.identify(files, target.rt, [q.expected_percent for q in target.qualifiers],
                           rt_id_tol, ratio_tol)
        text = ";".join(shortest_text(q.mz) + ":" + (shortest_text(r) if r is not None else "")
                        for q, r in zip(target.qualifiers, v.reference_ratios))
        for k, i in enumerate(idx):
            rows[i].update(rt_reference=v.rt_reference, rt_shift=v.rt_shift[k],
                           reference_ratios=text,
                           identified=IDENTIFIED_YES if v.identified[k] else IDENTIFIED_NO,
                           identification_flags=list(v.failed[k]))


def read_ladder(ladder: LadderArg) -> list[tuple[int, float]]:
    """An alkane ladder as (carbon, rt) pairs: from a table with the columns
    carbon and rt (tab- or comma-delimited, as ``vxrun ladder`` writes it) or
    from pairs. Raises ValueError for fewer than two alkanes or carbon numbers
    or times that do not increase."""
    if isinstance(ladder, (str, os.PathLike)):
        with open(ladder, encoding="utf-8-sig") as f:
            lines = [l.strip() for l in f if l.strip() and not l.startswith("#")]
        if not lines:
            raise ValueError(f"{os.fspath(ladder)}: no header row")
        sep = "\t" if "\t" in lines[0] else ","
        head = [h.strip().lower() for h in lines[0].split(sep)]
        if sorted(head) not in (["carbon", "rt"], ["carbon", "retention_time"]):
            raise ValueError(f"{os.fspath(ladder)}:1: the columns must be carbon and rt")
        c, t = head.index("carbon"), 1 - head.index("carbon")
        pairs = [(int(cells[c]), float(cells[t]))
                 for cells in (l.split(sep) for l in lines[1:])]
    else:
        pairs = [(int(c), float(t)) for c, t in (ladder or [])]
    if len(pairs) < 2:
        raise ValueError(f"a ladder needs at least two alkanes (it has {len(pairs)})")
    for (c0, t0), (c1, t1) in zip(pairs, pairs[1:]):
        if not (c1 > c0 and t1 > t0 and math.isfinite(t1)):
            raise ValueError(f"the ladder's carbon numbers and times must increase (C{c1})")
    return pairs


def retention_index(ladder: list[tuple[int, float]], rt: float) -> tuple[float, bool]:
    """van den Dool and Kratz between the bracketing alkanes; outside the
    ladder the first or last pair is extended (and the second value says
    so), as vxrun does."""
    i = 0
    while i + 2 < len(ladder) and rt >= ladder[i + 1][1]:
        i += 1
    (n, tn), (big_n, tbig) = ladder[i], ladder[i + 1]
    ri = 100.0 * (n + (big_n - n) * (rt - tn) / (tbig - tn))
    return ri, rt < ladder[0][1] or rt > ladder[-1][1]


def _add_indices(rows: list[Row], ladder: list[tuple[int, float]]) -> None:
    for row in rows:
        rt = row["retention_time"]
        if rt is None or not math.isfinite(rt):
            continue
        row["retention_index"], outside = retention_index(ladder, rt)
        if outside:
            row["flags"].append(FLAG_RI_EXTRAPOLATED)


def batch_rows(files: FilesArg, targets: TargetsArg, jobs: int = 2,
               library: Union[StepLibrary, PathArg, None] = None,
               ladder: LadderArg = None, *,
               min_sn: float = DecisionOptions.min_sn,
               min_points: int = DecisionOptions.min_points,
               deconvolve: bool = False, samples: SamplesArg = None,
               rt_id_tol: Optional[float] = None,
               ratio_tol: Optional[float] = None,
               review: Optional[ReviewArg] = None) -> list[Row]:
    """The rows of batch() as dicts (None for absent values, flags a list),
    equal to ``json.loads`` of each line of ``vxrun batch --jsonl`` with the
    same --min-sn, --min-points and --deconvolve (with ``ladder``, of
    ``vxrun batch --ladder``; with samples, rt_id_tol or ratio_tol, of
    --samples, --rt-id-tol and --ratio-tol; with review, of --review)."""
    options = DecisionOptions(min_sn, min_points, bool(deconvolve))
    identify = samples is not None or rt_id_tol is not None or ratio_tol is not None
    rt_id_tol = DEFAULT_RT_ID_TOL if rt_id_tol is None else float(rt_id_tol)
    ratio_tol = DEFAULT_RATIO_TOL if ratio_tol is None else float(ratio_tol)
    for name, value in (("rt_id_tol", rt_id_tol), ("ratio_tol", ratio_tol)):
        if not (math.isfinite(value) and value >= 0):
            raise ValueError(f"{name} must be a number of 0 or more, not {value!r}")
    alkanes = read_ladder(ladder) if ladder is not None else None
    lib = library if isinstance(library, StepLibrary) else Library(library)
    peaks = peaks_library(lib.path)
    compact = compact_library(lib.path)
    wanted = as_targets(targets)
    inputs = expand_inputs(files)
    sample_types = read_samples(samples, wanted, [f.path for f in inputs]) \
        if samples is not None else []
    decisions = Review(lib, review, [f.path for f in inputs], wanted) \
        if review is not None else None
    jobs = max(1, int(jobs) if jobs else (os.cpu_count() or 1))
    if jobs == 1:
        per_file = [_file_rows(lib, f, wanted, _Helpers(None, 0), peaks, options, identify,
                               compact)
                    for f in inputs]
    else:
        # Files take `jobs` threads; their targets borrow idle ones from a
        # second pool, which is only ever helped, never waited for.
        with ThreadPoolExecutor(jobs - 1) as spare, ThreadPoolExecutor(jobs) as pool:
            helpers = _Helpers(spare, jobs - 1)
            def job(f: BatchFile) -> list[Row]:
                with helpers.slots:
                    return _file_rows(lib, f, wanted, helpers, peaks, options, identify,
                                      compact)
            per_file = list(pool.map(job, inputs))
    rows = [row for pairs in per_file for row, _ in pairs]
    if decisions is not None:
        decisions.apply(rows)
    if identify:
        _identify(rows, [q for pairs in per_file for _, q in pairs], wanted, sample_types,
                  lib.path, rt_id_tol, ratio_tol)
    if alkanes is not None:
        _add_indices(rows, alkanes)
    return rows


def batch(files: FilesArg, targets: TargetsArg, jobs: int = 2,
          library: Union[StepLibrary, PathArg, None] = None,
          ladder: LadderArg = None, *,
          min_sn: float = DecisionOptions.min_sn,
          min_points: int = DecisionOptions.min_points,
          deconvolve: bool = False, samples: SamplesArg = None,
          rt_id_tol: Optional[float] = None,
          ratio_tol: Optional[float] = None,
          review: Optional[ReviewArg] = None) -> "pd.DataFrame":
    """Runs the chain on every file and target on ``jobs`` threads (0: one
    per core). ``files`` are paths, folders and glob patterns (one, or an
    iterable of them); ``targets`` a targets table's path (TSV or CSV, read
    as vxrun reads it), a pandas DataFrame with a targets table's columns, or
    Target objects, dicts or tuples. Returns a pandas DataFrame with the columns of ``vxrun
    batch``: file, target, mz, rt, status, spectra, trace_points,
    max_intensity, fit_status, retention_time, height, width, area,
    baseline, r_squared, iterations, flags (a list), message,
    signal_to_noise, detection, integrated_area, peak_start, peak_end,
    asymmetry, component_area, review, review_digest, then the identification
    columns and retention_index, which ``ladder`` (a ladder table's path or
    (carbon, rt) pairs) fills. ``samples`` (a sample list's path, or dicts
    with file, type and amounts by target name), ``rt_id_tol`` (minutes) and
    ``ratio_tol`` (% of the reference ratio) judge identification as vxrun's
    --samples, --rt-id-tol and --ratio-tol do: the references are the means
    over the detected standards, the verdicts fill rt_reference, rt_shift,
    reference_ratios, identified and identification_flags (empty unless one
    of the three is given). min_sn,
    min_points and deconvolve are vxrun's --min-sn, --min-points and
    --deconvolve: a ``not_detected`` row keeps its fitted numbers as
    evidence, never as an amount. A file that cannot be used gets rows that
    say why (``status``) and never stops the batch. Absent numbers are NaN
    (``<NA>`` in the integer columns). ``review`` (a review.tsv path) is
    vxrun's --review: a rejected peak becomes ``not_detected``, a manual
    integration sets integrated_area, peak_start and peak_end from the trace
    between its bounds; columns review and review_digest say so. A decision
    naming no file or target of the batch, or otherwise bad, raises
    ReviewError with vxrun's messages before any file is run."""
    return to_frame(batch_rows(files, targets, jobs, library, ladder, min_sn=min_sn,
                               min_points=min_points, deconvolve=deconvolve,
                               samples=samples, rt_id_tol=rt_id_tol, ratio_tol=ratio_tol,
                               review=review))


def to_frame(rows: Iterable[Row]) -> "pd.DataFrame":
    """A DataFrame of table rows (from batch_rows or vxrun's JSON Lines)."""
    import pandas as pd

    frame = pd.DataFrame.from_records(list(rows), columns=list(COLUMNS))
    for c in _INTEGER_COLUMNS:
        frame[c] = frame[c].astype("Int64")
    for c in _FLOAT_COLUMNS:
        frame[c] = frame[c].astype("float64")
    return frame
