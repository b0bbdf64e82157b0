"""The GC-MS chain as objects: ingestion (Library.ingest gives a Run), trace
(Run.trace gives a Trace), fit (Trace.fit gives a Fit). Ingestion output 2
feeds trace input 0; trace output 1 feeds fit input 0. Failure flags become
the exceptions of errors.py."""

from __future__ import annotations

import math
import os
from dataclasses import dataclass, field
from typing import TYPE_CHECKING, Any, Optional, Union

from . import _abi
from ._documents import (FIT_SUCCESS, FLAG_EMPTY_TRACE, MASS_WINDOW, FLAG_MEANINGS,
                         FLAG_NO_LOCAL_PEAK, FLAG_UNSTABLE_FIT, INGESTION, FIT, TRACE,
                         NO_SPECTRA_MESSAGE, ROW_NO_SPECTRA, ROW_OK, Ingestion,
                         check_fit_values, check_trace_values, fit_documents,
                         ingest_documents, number, read_object, trace_documents)
from ._library import StepLibrary
from .errors import EmptyTraceError, FitError, IngestError, NoSpectraError, StepError

if TYPE_CHECKING:
    import numpy as np


class Library(StepLibrary):
    """A loaded step library (see StepLibrary) with the GC-MS chain's entry
    point. Thread-safe."""

    def ingest(self, path: Union[str, "os.PathLike[str]"]) -> "Run":
        """Reads an mzML file (plain, indexed or gzip-compressed): the run
        summary, and the spectra document kept as bytes. Raises IngestError
        (file_not_found, unsupported_encoding, malformed_number), its
        subclass NoSpectraError, or StepError."""
        return Run.ingest(self, path)


class Run:
    """An ingested mzML file. ``summary`` is the run summary as a dict;
    ``len(run)`` its spectrum count; ``spectra_document`` the spectra
    document as the step wrote it (bytes), parsed only by ``spectra()``."""

    def __init__(self, lib: StepLibrary, path: str, ingestion: Ingestion):
        self.library = lib
        self.path = path
        self.spectra_document: bytes = ingestion.spectra
        self.chromatograms_document: bytes = ingestion.chromatograms
        self.summary_document: bytes = ingestion.run_summary
        self.summary: dict = read_object(ingestion.run_summary, "the run summary")
        self._count = ingestion.spectrum_count or 0
        self._spectra: Optional[list] = None

    @classmethod
    def ingest(cls, lib: StepLibrary, path: Union[str, "os.PathLike[str]"]) -> "Run":
        ing = ingest_documents(lib, path)
        shown = os.fsdecode(path)
        if ing.step_status != _abi.STATUS_OK:
            raise StepError(INGESTION, ing.step_status)
        if ing.status == ROW_NO_SPECTRA:
            raise NoSpectraError(shown, ROW_NO_SPECTRA, NO_SPECTRA_MESSAGE)
        if ing.status != ROW_OK:
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
        if check and trace.flags.get(FLAG_EMPTY_TRACE) is True:
            raise EmptyTraceError(
                FLAG_EMPTY_TRACE, FLAG_MEANINGS[FLAG_EMPTY_TRACE] +
                f" {trace.flags.get(MASS_WINDOW, '')}", trace)
        return trace

    def __repr__(self) -> str:
        return f"<vx_steps.Run {self.path!r}: {len(self)} spectra>"


class Trace:
    """A selected-ion trace: numpy arrays ``retention_time`` (minutes) and
    ``intensity``, the step's diagnostics ``flags`` (a dict), and the trace
    document as bytes (``document``), which the fit reads."""

    def __init__(self, lib: StepLibrary, document: bytes, diagnostics: bytes):
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
        failed = [f for f in (FLAG_NO_LOCAL_PEAK, FLAG_UNSTABLE_FIT)
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
                or not self.width or self.status != FIT_SUCCESS:
            return np.full(t.shape, np.nan)
        z = (t - self.center) / self.width
        return self.height * np.exp(-0.5 * z * z) + self.baseline
