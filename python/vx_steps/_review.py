"""Review decisions (review.tsv, exported from the report or written by hand)
applied to batch rows through libvx_tables.so (the C API of
host/tables/vx_tables.h): the reader, its error texts, the manual
integration and the overrides are vxrun's own code, so that ``batch(...,
review=PATH)`` gives the rows of ``vxrun batch --review PATH``. The library
sits beside the step library; $VX_TABLES_LIBRARY names another one."""

from __future__ import annotations

import ctypes
import os
from dataclasses import dataclass
from typing import Optional, Sequence, Union

from ._companion import from_c_number, load_companion, to_c_number
from ._documents import fit_documents, ingest_documents, number, read_object
from ._documents import trace_documents
from ._library import StepLibrary
from ._peaks import DETECTED, NOT_DETECTED
from ._targets import Target
from .errors import ReviewError

TABLES_NAME = "libvx_tables.so"
ReviewArg = Union[str, "os.PathLike[str]"]

# The detection and review codes of VxtReviewRow.
_DETECTION_CODES = {None: 0, DETECTED: 1, NOT_DETECTED: 2}
_DETECTION_TEXTS = {0: None, 1: DETECTED, 2: NOT_DETECTED}
_REVIEW_TEXTS = {0: None, 1: "reject", 2: "integrate"}


class _Entry(ctypes.Structure):
    _fields_ = [("line", ctypes.c_uint64), ("file_index", ctypes.c_uint64),
                ("target_index", ctypes.c_uint64), ("action", ctypes.c_char_p),
                ("start_rt", ctypes.c_double), ("end_rt", ctypes.c_double)]


class _Row(ctypes.Structure):
    _fields_ = [("detection", ctypes.c_int32), ("review", ctypes.c_int32),
                ("integrated_area", ctypes.c_double), ("peak_start", ctypes.c_double),
                ("peak_end", ctypes.c_double)]


@dataclass(frozen=True)
class ReviewEntry:
    """One decision of a review file, matched to the batch."""

    line: int
    file_index: int
    target_index: int
    action: str  # "reject" or "integrate"
    start_rt: Optional[float]
    end_rt: Optional[float]


class TablesLibrary:
    """libvx_tables.so, loaded once per path."""

    def __init__(self, path: str):
        try:
            dll = ctypes.CDLL(os.path.abspath(path), mode=os.RTLD_LOCAL)
            fns = {name: getattr(dll, "vxt_" + name) for name in (
                "review_read", "review_free", "review_digest", "review_error",
                "review_entry_count", "review_entry", "manual_area", "review_apply")}
        except (OSError, AttributeError) as e:
            raise ReviewError([f"cannot load the review library {path}: {e}"]) from e
        p = ctypes.c_void_p
        strings = ctypes.POINTER(ctypes.c_char_p)
        doubles = ctypes.POINTER(ctypes.c_double)
        sig = {
            "review_read": (p, [ctypes.c_char_p, ctypes.c_uint64, ctypes.c_char_p, strings,
                                ctypes.c_uint64, strings, ctypes.c_uint64]),
            "review_free": (None, [p]),
            "review_digest": (ctypes.c_char_p, [p]),
            "review_error": (ctypes.c_char_p, [p, ctypes.c_uint64]),
            "review_entry_count": (ctypes.c_uint64, [p]),
            "review_entry": (ctypes.c_int32, [p, ctypes.c_uint64, ctypes.POINTER(_Entry)]),
            "manual_area": (ctypes.c_double, [doubles, doubles, ctypes.c_uint64,
                                              ctypes.c_double, ctypes.c_double,
                                              ctypes.c_double]),
            "review_apply": (ctypes.c_int32, [p, ctypes.POINTER(_Row), ctypes.c_uint64,
                                              ctypes.c_uint64, doubles, ctypes.c_uint64]),
        }
        for name, (restype, argtypes) in sig.items():
            fns[name].restype = restype
            fns[name].argtypes = argtypes
        self._fn = fns

    def manual_area(self, times: Sequence[float], intensities: Sequence[float],
                    baseline: Optional[float], start: float, end: float) -> Optional[float]:
        n = min(len(times), len(intensities))
        t = (ctypes.c_double * n)(*(to_c_number(x) for x in times[:n]))
        y = (ctypes.c_double * n)(*(to_c_number(x) for x in intensities[:n]))
        return from_c_number(self._fn["manual_area"](t, y, n, to_c_number(baseline), start,
                                                     end))


def tables_library(step_library_path: str) -> TablesLibrary:
    """The review library for a loaded step library: $VX_TABLES_LIBRARY, else
    libvx_tables.so in the step library's folder."""
    return load_companion(step_library_path, "VX_TABLES_LIBRARY", TABLES_NAME,
                          "review decisions", TablesLibrary)


def _encoded(texts: Sequence[str]) -> "ctypes.Array[ctypes.c_char_p]":
    return (ctypes.c_char_p * len(texts))(*(t.encode() for t in texts))


class Review:
    """A review file read against the batch's files and targets before any
    file is run, so that a typo costs no run; ``apply`` then overrides the
    rows. Raises ReviewError with vxrun's messages."""

    def __init__(self, lib: StepLibrary, path: ReviewArg, files: Sequence[str],
                 targets: Sequence[Target]):
        self._lib = lib
        self._handle = ctypes.c_void_p()
        self._tables = tables_library(lib.path)
        self.source = os.fspath(path)
        try:
            with open(self.source, "rb") as f:
                text = f.read()
        except OSError:
            raise ReviewError([f"cannot read the review {self.source}"]) from None
        self._files = list(files)
        self._targets = list(targets)
        fn = self._tables._fn
        handle = fn["review_read"](text, len(text), self.source.encode(),
                                   _encoded(self._files), len(self._files),
                                   _encoded([t.name or "" for t in self._targets]),
                                   len(self._targets))
        if not handle:
            raise MemoryError("reading the review ran out of memory")
        self._handle = ctypes.c_void_p(handle)
        try:
            errors = self._errors()
            if errors:
                raise ReviewError(errors)
            self.digest: str = fn["review_digest"](self._handle).decode()
            self.entries: list[ReviewEntry] = []
            e = _Entry()
            for i in range(fn["review_entry_count"](self._handle)):
                fn["review_entry"](self._handle, i, ctypes.byref(e))
                self.entries.append(ReviewEntry(
                    e.line, e.file_index, e.target_index, e.action.decode(),
                    from_c_number(e.start_rt), from_c_number(e.end_rt)))
        except BaseException:
            self.close()
            raise

    def __del__(self) -> None:
        self.close()

    def _errors(self) -> list[str]:
        fn = self._tables._fn
        out = []
        while (text := fn["review_error"](self._handle, len(out))) is not None:
            out.append(text.decode(errors="replace"))
        return out

    def close(self) -> None:
        if self._handle:
            self._tables._fn["review_free"](self._handle)
            self._handle = ctypes.c_void_p()

    def _manual_areas(self) -> list[Optional[float]]:
        """The area of each integration, from the target's trace and fit as the
        batch ran them (the file is read again: only files with a manual
        integration are)."""
        areas: list[Optional[float]] = [None] * len(self.entries)
        by_file: dict[int, list[int]] = {}
        for i, e in enumerate(self.entries):
            if e.action == "integrate":
                by_file.setdefault(e.file_index, []).append(i)
        for f, wanted in by_file.items():
            ing = ingest_documents(self._lib, self._files[f])
            if not ing.handed_over:
                continue  # no run, no trace: apply names the integration
            for i in wanted:
                e = self.entries[i]
                target = self._targets[e.target_index]
                res = trace_documents(self._lib, ing.spectra, target.mz, target.mz_tol,
                                      target.exact)
                if res.status != 0 or not res.outputs[1]:
                    continue
                trace = read_object(res.outputs[1], "the trace document")
                fit = fit_documents(self._lib, res.outputs[1], target.rt, target.rt_tol,
                                    target.max_iter)
                # The fitted baseline whatever the fit's status, as vxrun reads it.
                baseline = number(read_object(fit.outputs[1], "the fit result document"),
                                  "baseline") if fit.status == 0 and fit.outputs[1] else None
                times, ys = trace.get("retention_time"), trace.get("intensity")
                if isinstance(times, list) and isinstance(ys, list):
                    areas[i] = self._tables.manual_area(times, ys, baseline, e.start_rt or 0.0,
                                                        e.end_rt or 0.0)
        return areas

    def apply(self, rows: list) -> None:
        """Overrides rows (file-major, the batch's files × targets) as vxrun
        does: a rejection makes the row not_detected, a manual integration
        sets integrated_area, peak_start and peak_end; every row gets the
        review's digest, every overridden row its action (column review)."""
        try:
            areas = self._manual_areas()
            c_rows = (_Row * len(rows))()
            for c, r in zip(c_rows, rows):
                c.detection = _DETECTION_CODES.get(r["detection"], 0)
                c.integrated_area = to_c_number(r["integrated_area"])
                c.peak_start = to_c_number(r["peak_start"])
                c.peak_end = to_c_number(r["peak_end"])
            c_areas = (ctypes.c_double * len(areas))(*(to_c_number(a) for a in areas))
            status = self._tables._fn["review_apply"](self._handle, c_rows, len(rows),
                                                      len(self._targets), c_areas, len(areas))
            if status == 1:
                raise MemoryError("applying the review ran out of memory")
            errors = self._errors()
            if status != 0 or errors:
                raise ReviewError(errors or [f"{self.source}: the review was not applied"])
            for c, r in zip(c_rows, rows):
                r["review_digest"] = self.digest
                if c.review == 0:
                    continue
                r["review"] = _REVIEW_TEXTS[c.review]
                r["detection"] = _DETECTION_TEXTS[c.detection]
                r["integrated_area"] = from_c_number(c.integrated_area)
                r["peak_start"] = from_c_number(c.peak_start)
                r["peak_end"] = from_c_number(c.peak_end)
        finally:
            self.close()
