"""The documents of the GC-MS chain's steps and what they mean: the step
names, the row statuses and the diagnostics flags (one named constant each),
the calls of the three steps, and the sorting of the ingestion's outputs
into vxrun's row statuses. Documents are kept as the bytes the steps handed
over and read with the json module only for the facts the package exposes.
Used by the chain objects (_chain) and by batches (_batch)."""

from __future__ import annotations

import ctypes
import json
import math
import os
from dataclasses import dataclass
from typing import Callable, Optional, Union

from . import _abi, _formats
from ._library import StepLibrary
from .errors import DocumentError

INGESTION = "GcMsMzmlIngestionStep"
TRACE = "GcMsSimTraceExtractionStep"
FIT = "GcMsTargetedGaussianFitStep"

INGEST_PREFIX = "gcms.ingest."
_DIAGNOSTICS_START = b'{"' + INGEST_PREFIX.encode()
_EMPTY_SPECTRA = b'{"spectra":[]}'
MAX_ITERATIONS = 10000

# The status of a batch row: "ok", an ingestion flag's reason, or one of these.
ROW_OK = "ok"
ROW_STEP_FAILED = "step_failed"
ROW_NO_SPECTRA = "no_spectra"
ROW_NO_MZML_FILES = "no_mzml_files"
# The ingestion's failure flags, gcms.ingest.<reason>; the reason is the status.
ROW_FILE_NOT_FOUND = "file_not_found"
ROW_UNSUPPORTED_ENCODING = "unsupported_encoding"
ROW_MALFORMED_NUMBER = "malformed_number"
ROW_INCOMPLETE_FILE = "incomplete_file"
# Named by the host: a file of 0 bytes, and netCDF (ANDI) files it cannot use.
ROW_EMPTY_FILE = "empty_file"
ROW_NO_MASS_SPECTRA = "no_mass_spectra"
ROW_INCONSISTENT_FILE = "inconsistent_file"
# A target whose window misses the run's first to last scan: numbers empty.
FLAG_RT_OUTSIDE_RUN = "rt_outside_run"
_ANDI_ROW_STATUS = {
    _formats.ANDI_NOT_NETCDF: ROW_UNSUPPORTED_ENCODING,
    _formats.ANDI_NO_MASS_SPECTRA: ROW_NO_MASS_SPECTRA,
    _formats.ANDI_INCONSISTENT_FILE: ROW_INCONSISTENT_FILE,
    _formats.ANDI_INCOMPLETE_FILE: ROW_INCOMPLETE_FILE,
}

# The diagnostics flags that mean failure, and the fit status of a fit.
FLAG_EMPTY_TRACE = "gcms.sim.empty_trace"
FLAG_NO_LOCAL_PEAK = "gcms.fit.no_local_peak"
FLAG_UNSTABLE_FIT = "gcms.fit.unstable_fit"
FIT_SUCCESS = "success"
# Not a flag: the trace diagnostics' member that states the mass window.
MASS_WINDOW = "gcms.sim.mass_window"

NO_SPECTRA_MESSAGE = ("the file yields no spectra (not mzML, or a form the reader "
                      "does not know, such as mzXML or namespace-prefixed elements)")
FLAG_MEANINGS = {
    FLAG_EMPTY_TRACE: "no spectrum holds an ion in the mass window",
    FLAG_NO_LOCAL_PEAK: "the fit window holds no trace point",
    FLAG_UNSTABLE_FIT: ("the fit did not settle: fewer than 4 points in the "
                        "window, no rise above its minimum, or a solver that "
                        "did not converge within the iteration limit"),
}


def ingest_message(reason: str) -> str:
    """What a gcms.ingest flag means, in the words of vxrun's table."""
    return {
        ROW_FILE_NOT_FOUND: "nothing exists at this path",
        ROW_UNSUPPORTED_ENCODING:
            "the file cannot be read (empty, a directory, unreadable or not decodable)",
        ROW_MALFORMED_NUMBER: "the file holds a number that cannot be read",
    }.get(reason, "the ingestion step reported gcms.ingest." + reason)


def status_message(step: str, status: int) -> str:
    """A failing step's status, as vxrun's message words it."""
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
    """A member that is a JSON number (not a bool), or None."""
    v = doc.get(key)
    return float(v) if isinstance(v, (int, float)) and not isinstance(v, bool) else None


def read_object(text: bytes, what: str) -> dict:
    """A step's document as a dict; DocumentError when it is not an object."""
    try:
        value = json.loads(text)
    except (ValueError, RecursionError) as e:
        raise DocumentError(f"{what} is not a JSON object ({e})") from None
    if not isinstance(value, dict):
        raise DocumentError(f"{what} is not a JSON object")
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
    # The first and last scan times (minutes) of the spectra document.
    scan_range: Optional[tuple[float, float]] = None


def ingest_documents(lib: StepLibrary, path: Union[str, "os.PathLike[str]"],
                     visit: Optional[Callable[[_abi.RawText], None]] = None) -> Ingestion:
    """Runs the ingestion step. Without visit the spectra document is kept;
    with it, the document is shown to visit inside the step's output call
    (valid only there) and never copied."""
    if _formats.is_andi_path(os.fspath(path)):
        return _ingest_andi(lib, os.fspath(path), visit)
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
            out.scan_range = raw_scan_range(text)
            streamed["empty"] = (text.size == len(_EMPTY_SPECTRA) and _abi.ctypes.string_at(
                text.address, text.size) == _EMPTY_SPECTRA)
            visit(text)
        sinks[2] = sink
    result = lib.call_raw(INGESTION, [path, ""], [], 3, sinks)
    out.step_status = result.status
    slot2 = streamed.get("diagnostics", result.outputs[2])
    if result.status != _abi.STATUS_OK or slot2 is None:
        out.handed_over = False
        out.status = ROW_STEP_FAILED
        out.message = (status_message(INGESTION, result.status) if result.status
                       else "the ingestion step wrote no output 2")
        return out
    if slot2.startswith(_DIAGNOSTICS_START):
        out.handed_over = False
        out.diagnostics = slot2
        _sort_diagnostics(out)
        _name_empty_file(os.fspath(path), out)
        return out
    empty = streamed.get("empty", False)
    if visit is None:
        out.spectra, out.handed_over = slot2, True
        out.scan_range = text_scan_range(slot2)
        empty = slot2 == _EMPTY_SPECTRA
    out.chromatograms = result.outputs[0] or b""
    out.run_summary = result.outputs[1] or b""
    _count_spectra(out, empty)
    return out


_ENTRY_START = b'{"index":'
_TIME_KEY = b',"scan_start_time":'


def _entry_minutes(entry: bytes) -> Optional[float]:
    at = entry.find(_TIME_KEY)
    if at < 0:
        return None
    start = at + len(_TIME_KEY)
    end = min((i for i in (entry.find(b",", start), entry.find(b"}", start)) if i >= 0),
              default=-1)
    try:
        value = float(entry[start:end])
    except ValueError:
        return None
    if not math.isfinite(value):
        return None
    unit = b',"scan_start_time_unit":"second"'
    return value / 60.0 if entry[end:end + len(unit)] == unit else value


def scan_range(read: Callable[[int, int], bytes], size: int) -> Optional[tuple[float, float]]:
    """The first and last entry's scan times of a spectra document, read
    through read(offset, length): two entries, not a pass over the document."""
    head = read(0, min(size, 4096))
    first = head.find(_ENTRY_START)
    if first < 0:
        return None
    tail_size = 4096
    while True:
        start = max(0, size - tail_size)
        tail = read(start, size - start)
        last = tail.rfind(_ENTRY_START)
        if last >= 0 or start == 0:
            break
        tail_size *= 4
    a, b = _entry_minutes(head[first:]), _entry_minutes(tail[last:]) if last >= 0 else None
    if a is None or b is None:
        return None
    return (min(a, b), max(a, b))


def text_scan_range(text: bytes) -> Optional[tuple[float, float]]:
    return scan_range(lambda o, n: text[o:o + n], len(text))


def raw_scan_range(text: _abi.RawText) -> Optional[tuple[float, float]]:
    return scan_range(lambda o, n: ctypes.string_at(text.address + o, n), text.size)


def _count_spectra(out: Ingestion, empty: bool) -> None:
    try:
        count = number(json.loads(out.run_summary), "spectrum_count")
    except (ValueError, AttributeError, RecursionError):
        count = None
    if count is not None and count >= 0:
        out.spectrum_count = int(count)
    if out.spectrum_count is None and empty:
        out.spectrum_count = 0
    out.status, out.message = (ROW_NO_SPECTRA, NO_SPECTRA_MESSAGE) \
        if out.spectrum_count == 0 else (ROW_OK, "")


def _name_empty_file(path: str, out: Ingestion) -> None:
    """The step cannot tell an empty file from an undecodable one; its size can."""
    if out.status == ROW_UNSUPPORTED_ENCODING and os.path.isfile(path) \
            and os.path.getsize(path) == 0:
        out.status, out.message = ROW_EMPTY_FILE, "the file is empty (0 bytes)"


def _ingest_andi(lib: StepLibrary, path: str,
                 visit: Optional[Callable[[_abi.RawText], None]]) -> Ingestion:
    """A .cdf file through the host's netCDF reader, sorted like vxrun's."""
    out = Ingestion()
    d = _formats.read_andi(lib, path)
    if d.status != _formats.ANDI_OK:
        out.status = _ANDI_ROW_STATUS.get(d.status, ROW_UNSUPPORTED_ENCODING)
        out.message = d.message
        if d.status == _formats.ANDI_UNREADABLE and not os.path.exists(path):
            out.status, out.message = ROW_FILE_NOT_FOUND, ingest_message(ROW_FILE_NOT_FOUND)
        _name_empty_file(path, out)
        return out
    out.handed_over = True
    out.chromatograms = b'{"chromatograms":[]}'
    out.run_summary = d.summary
    out.scan_range = text_scan_range(d.spectra)
    if visit is None:
        out.spectra = d.spectra
    else:
        buffer = ctypes.create_string_buffer(d.spectra, len(d.spectra))
        visit(_abi.RawText(ctypes.addressof(buffer), len(d.spectra)))
    _count_spectra(out, d.spectra == _EMPTY_SPECTRA)
    return out


def _sort_diagnostics(out: Ingestion) -> None:
    out.status = ROW_STEP_FAILED
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
            reason = doc.get("reason")
            if isinstance(reason, str) and reason:
                out.message = "the file is incomplete: " + reason
            return


def trace_documents(lib: StepLibrary, spectra: _abi.Value, mz: float, tol: float,
                    exact: bool) -> _abi.CallResult:
    mode = "exact_match" if exact else "nominal_tolerance_da"
    return lib.call_raw(TRACE, [mode, float(tol), float(mz)], [spectra], 2)


def fit_documents(lib: StepLibrary, trace: _abi.Value, rt: float, rt_tol: float,
                  max_iter: int) -> _abi.CallResult:
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
