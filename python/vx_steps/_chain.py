"""The GC-MS chain: ingestion, trace, fit. Ingestion output 2 feeds trace
input 0; trace output 1 feeds fit input 0. Documents are kept as the bytes
the steps handed over and read with the json module only for the facts the
objects expose."""

from __future__ import annotations

import json
import math
import os
from dataclasses import dataclass, field
from typing import TYPE_CHECKING, Any, Callable, Optional, Union

from . import _abi
from .errors import (EmptyTraceError, FitError, IngestError, NoSpectraError,
                     StepError, VxStepsError)

if TYPE_CHECKING:
    import numpy as np

    from ._library import Library

INGESTION = "GcMsMzmlIngestionStep"
TRACE = "GcMsSimTraceExtractionStep"
FIT = "GcMsTargetedGaussianFitStep"

INGEST_PREFIX = "gcms.ingest."
_DIAGNOSTICS_START = b'{"' + INGEST_PREFIX.encode()
_EMPTY_SPECTRA = b'{"spectra":[]}'
MAX_ITERATIONS = 10000

NO_SPECTRA_MESSAGE = ("the file yields no spectra (not mzML, or a form the reader "
                      "does not know, such as mzXML or namespace-prefixed elements)")
FLAG_MEANINGS = {
    "gcms.sim.empty_trace": "no spectrum holds an ion in the mass window",
    "gcms.fit.no_local_peak": "the fit window holds no trace point",
    "gcms.fit.unstable_fit": ("the fit did not settle: fewer than 4 points in the "
                              "window, no rise above its minimum, or a solver that "
                              "did not converge within the iteration limit"),
}


def ingest_message(reason: str) -> str:
    """What a gcms.ingest flag means, in the words of vxrun's table."""
    return {
        "file_not_found": "nothing exists at this path",
        "unsupported_encoding":
            "the file cannot be read (empty, a directory, unreadable or not decodable)",
        "malformed_number": "the file holds a number that cannot be read",
    }.get(reason, "the ingestion step reported gcms.ingest." + reason)


def status_message(step: str, status: int) -> str:
    m = f"{step} returned status {status}"
    if status == _abi.STATUS_HOST_ERROR:
        m += " (host error)"
    if status == _abi.STATUS_INVALID_INPUT:
        m += " (invalid input or internal error)"
    return m


def true_flags(diagnostics: dict) -> list[str]:
    """The keys of the diagnostics members that are true, in order."""
    return [k for k, v in diagnostics.items() if v is True]


def number(doc: dict, key: str) -> Optional[float]:
    v = doc.get(key)
    return float(v) if isinstance(v, (int, float)) and not isinstance(v, bool) else None


def read_object(text: bytes, what: str) -> dict:
    """A step's document as a dict; VxStepsError when it is not an object."""
    try:
        value = json.loads(text)
    except (ValueError, RecursionError) as e:
        raise VxStepsError(f"{what} is not a JSON object ({e})") from None
    if not isinstance(value, dict):
        raise VxStepsError(f"{what} is not a JSON object")
    return value


@dataclass
class Ingestion:
    """What the ingestion step gave, sorted into vxrun's row statuses."""

    step_status: int = 0
    status: str = ""
    message: str = ""
    spectra: bytes = b""
    chromatograms: bytes = b""
    run_summary: bytes = b""
    diagnostics: bytes = b""
    spectrum_count: Optional[int] = None
    handed_over: bool = False  # output 2 was a spectra document


def ingest_documents(lib: "Library", path: Union[str, "os.PathLike[str]"],
                     visit: Optional[Callable[[_abi.RawText], None]] = None) -> Ingestion:
    """Runs the ingestion step. Without visit the spectra document is kept;
    with it, the document is shown to visit inside the step's output call
    (valid only there) and never copied."""
    out = Ingestion()
    sinks = {}
    streamed = {}
    if visit is not None:
        def sink(text: _abi.RawText) -> None:
            head = _abi.ctypes.string_at(text.address, min(text.size, len(_DIAGNOSTICS_START)))
            if head == _DIAGNOSTICS_START:
                streamed["diagnostics"] = _abi.ctypes.string_at(text.address, text.size)
                return
            out.handed_over = True
            streamed["empty"] = (text.size == len(_EMPTY_SPECTRA) and _abi.ctypes.string_at(
                text.address, text.size) == _EMPTY_SPECTRA)
            visit(text)
        sinks[2] = sink
    result = lib.call_raw(INGESTION, [path, ""], [], 3, sinks)
    out.step_status = result.status
    slot2 = streamed.get("diagnostics", result.outputs[2])
    if result.status != _abi.STATUS_OK or slot2 is None:
        out.handed_over = False
        out.status = "step_failed"
        out.message = (status_message(INGESTION, result.status) if result.status
                       else "the ingestion step wrote no output 2")
        return out
    if slot2.startswith(_DIAGNOSTICS_START):
        out.handed_over = False
        out.diagnostics = slot2
        _sort_diagnostics(out)
        return out
    empty = streamed.get("empty", False)
    if visit is None:
        out.spectra, out.handed_over = slot2, True
        empty = slot2 == _EMPTY_SPECTRA
    out.chromatograms = result.outputs[0] or b""
    out.run_summary = result.outputs[1] or b""
    try:
        count = number(json.loads(out.run_summary), "spectrum_count")
    except (ValueError, AttributeError, RecursionError):
        count = None
    if count is not None and count >= 0:
        out.spectrum_count = int(count)
    if out.spectrum_count is None and empty:
        out.spectrum_count = 0
    out.status, out.message = ("no_spectra", NO_SPECTRA_MESSAGE) \
        if out.spectrum_count == 0 else ("ok", "")
    return out


def _sort_diagnostics(out: Ingestion) -> None:
    out.status = "step_failed"
    out.message = "unexpected ingestion diagnostics " + out.diagnostics.decode("utf-8", "replace")
    try:
        doc = json.loads(out.diagnostics)
    except (ValueError, RecursionError):
        return
    if not isinstance(doc, dict):
        return
    for key, value in doc.items():
        if key.startswith(INGEST_PREFIX) and value is True:
            out.status = key[len(INGEST_PREFIX):]
            out.message = ingest_message(out.status)
            return


def trace_documents(lib: "Library", spectra: _abi.Value, mz: float, tol: float,
                    exact: bool) -> _abi.CallOutcome:
    mode = "exact_match" if exact else "nominal_tolerance_da"
    return lib.call_raw(TRACE, [mode, float(tol), float(mz)], [spectra], 2)


def fit_documents(lib: "Library", trace: _abi.Value, rt: float, rt_tol: float,
                  max_iter: int) -> _abi.CallOutcome:
    return lib.call_raw(FIT, [float(max_iter), float(rt_tol), float(rt)], [trace], 2)


def check_trace_values(mz: float, tol: float) -> None:
    if not math.isfinite(mz) or mz <= 0:
        raise ValueError("m/z must be a positive number")
    if not math.isfinite(tol) or tol < 0:
        raise ValueError("m/z tolerance must be 0 or more")


def check_fit_values(rt: float, rt_tol: float, max_iter: int) -> None:
    if not math.isfinite(rt):
        raise ValueError("retention time must be a finite number")
    if not math.isfinite(rt_tol) or rt_tol < 0:
        raise ValueError("retention time tolerance must be 0 or more")
    if isinstance(max_iter, bool) or int(max_iter) != max_iter \
            or not 1 <= max_iter <= MAX_ITERATIONS:
        raise ValueError(f"iteration limit must be between 1 and {MAX_ITERATIONS}")


class Run:
    """An ingested mzML file. ``summary`` is the run summary as a dict;
    ``len(run)`` its spectrum count; ``spectra_document`` the spectra
    document as the step wrote it (bytes), parsed only by ``spectra()``."""

    def __init__(self, lib: "Library", path: str, ingestion: Ingestion):
        self.library = lib
        self.path = path
        self.spectra_document: bytes = ingestion.spectra
        self.chromatograms_document: bytes = ingestion.chromatograms
        self.summary_document: bytes = ingestion.run_summary
        self.summary: dict = read_object(ingestion.run_summary, "the run summary")
        self._count = ingestion.spectrum_count or 0
        self._spectra: Optional[list] = None

    @classmethod
    def ingest(cls, lib: "Library", path: Union[str, "os.PathLike[str]"]) -> "Run":
        ing = ingest_documents(lib, path)
        shown = os.fsdecode(path)
        if ing.step_status != _abi.STATUS_OK:
            raise StepError(INGESTION, ing.step_status)
        if ing.status == "no_spectra":
            raise NoSpectraError(shown, "no_spectra", NO_SPECTRA_MESSAGE)
        if ing.status != "ok":
            raise IngestError(shown, ing.status, ing.message)
        return cls(lib, shown, ing)

    def __len__(self) -> int:
        return self._count

    def spectra(self) -> list[dict]:
        """The spectra as dicts (index, scan_start_time, mz_array, ...),
        parsed from the document on first use."""
        if self._spectra is None:
            self._spectra = read_object(self.spectra_document,
                                        "the spectra document").get("spectra", [])
        return self._spectra

    def trace(self, mz: float, tol: float = 0.5, exact: bool = False,
              check: bool = True) -> "Trace":
        """The selected-ion trace of ``mz``: per spectrum holding an ion within
        ``tol`` daltons (or, with ``exact``, exactly ``mz``), its retention
        time in minutes and largest matching intensity. With ``check`` an
        empty trace raises EmptyTraceError (which carries the trace)."""
        check_trace_values(mz, tol)
        res = trace_documents(self.library, self.spectra_document, mz, tol, exact)
        if res.status != _abi.STATUS_OK:
            raise StepError(TRACE, res.status)
        trace = Trace(self.library, res.outputs[1] or b"", res.outputs[0] or b"")
        if check and trace.flags.get("gcms.sim.empty_trace") is True:
            raise EmptyTraceError(
                "gcms.sim.empty_trace", FLAG_MEANINGS["gcms.sim.empty_trace"] +
                f" {trace.flags.get('gcms.sim.mass_window', '')}", trace)
        return trace

    def __repr__(self) -> str:
        return f"<vx_steps.Run {self.path!r}: {len(self)} spectra>"


class Trace:
    """A selected-ion trace: numpy arrays ``retention_time`` (minutes) and
    ``intensity``, the step's diagnostics ``flags`` (a dict), and the trace
    document as bytes (``document``), which the fit reads."""

    def __init__(self, lib: "Library", document: bytes, diagnostics: bytes):
        self.library = lib
        self.document = document
        self.diagnostics_document = diagnostics
        import numpy as np  # here, so that batches and plain calls never load it

        doc = read_object(document, "the trace document")
        self.flags: dict = read_object(diagnostics, "the trace diagnostics")
        self.retention_time = np.asarray(doc.get("retention_time", []), dtype=np.float64)
        self.intensity = np.asarray(doc.get("intensity", []), dtype=np.float64)
        count = number(doc, "matched_ion_count")
        self.matched_ion_count: Optional[int] = \
            int(count) if count is not None and count >= 0 else None
        self.max_intensity = number(doc, "max_intensity")
        self.target_mz = number(doc, "target_mz")

    def __len__(self) -> int:
        return len(self.retention_time)

    def fit(self, rt: float, rt_tol: float = 0.3, max_iter: int = 100,
            check: bool = True) -> "Fit":
        """Fits a Gaussian peak on a constant baseline to the points within
        ``rt_tol`` minutes of ``rt``. With ``check`` a fit that found no
        local peak or did not settle raises FitError (which carries the Fit)."""
        check_fit_values(rt, rt_tol, max_iter)
        res = fit_documents(self.library, self.document, rt, rt_tol, int(max_iter))
        if res.status != _abi.STATUS_OK:
            raise StepError(FIT, res.status)
        fit = Fit.from_documents(res.outputs[1] or b"", res.outputs[0] or b"")
        failed = [f for f in ("gcms.fit.no_local_peak", "gcms.fit.unstable_fit")
                  if fit.flags.get(f) is True]
        if check and failed:
            raise FitError(failed[0], FLAG_MEANINGS[failed[0]], fit)
        return fit

    def __repr__(self) -> str:
        return f"<vx_steps.Trace m/z {self.target_mz}: {len(self)} points>"


@dataclass
class Fit:
    """A fitted peak: ``status`` ("success", "unstable_fit", "no_local_peak"),
    ``height``, ``center`` (minutes), ``width`` (sigma, minutes), ``area``,
    ``baseline``, ``r_squared``, ``iterations`` and the diagnostics
    ``flags``; the two documents as the step wrote them."""

    status: str
    height: Optional[float]
    center: Optional[float]
    width: Optional[float]
    area: Optional[float]
    baseline: Optional[float]
    r_squared: Optional[float]
    iterations: Optional[int]
    flags: dict
    window: tuple = (math.nan, math.nan)
    document: bytes = field(default=b"", repr=False)
    diagnostics_document: bytes = field(default=b"", repr=False)
    result: dict = field(default_factory=dict, repr=False)

    @classmethod
    def from_documents(cls, document: bytes, diagnostics: bytes) -> "Fit":
        doc = read_object(document, "the fit result document")
        iterations = number(doc, "solver_iterations")
        status = doc.get("fit_status")
        return cls(status if isinstance(status, str) else "",
                   number(doc, "peak_height"), number(doc, "fitted_retention_time"),
                   number(doc, "peak_width"), number(doc, "peak_area"),
                   number(doc, "baseline"), number(doc, "r_squared"),
                   int(iterations) if iterations is not None and math.isfinite(iterations)
                   else None,
                   read_object(diagnostics, "the fit diagnostics"),
                   (number(doc, "fit_window_min"), number(doc, "fit_window_max")),
                   document, diagnostics, doc)

    def curve(self, times: Any) -> "np.ndarray":
        """The fitted curve, height * exp(-(t - center)^2 / (2 width^2)) +
        baseline, at the given times (a NaN array when nothing was fitted)."""
        import numpy as np

        t = np.asarray(times, dtype=np.float64)
        if None in (self.height, self.center, self.width, self.baseline) \
                or not self.width or self.status != "success":
            return np.full(t.shape, np.nan)
        z = (t - self.center) / self.width
        return self.height * np.exp(-0.5 * z * z) + self.baseline
