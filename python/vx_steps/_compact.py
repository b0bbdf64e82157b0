"""Compact spectra documents through libvx_compact.so (the C API of
host/chain/vx_compact.h): one pass over a file's spectra document derives,
per group of targets whose m/z windows overlap, a document with only the
peaks the group can match, and each target is traced on the part of it near
its fit window, as vxrun traces them. The steps write the same bytes from
these documents as from the whole run, at a fraction of the cost; the trace
totals a row reports (trace_points, max_intensity, the trace flags) come
from the same pass over the whole run. The library sits beside the step
library; $VX_COMPACT_LIBRARY names another one."""

from __future__ import annotations

import ctypes
import dataclasses
import os
import threading
from dataclasses import dataclass
from typing import Optional, Sequence

from . import _abi
from ._companion import flag_names, load_companion
from ._targets import Qualifier, Target, shortest_text
from .errors import LibraryError

COMPACT_NAME = "libvx_compact.so"
_NO_GROUP = 2**64 - 1


class _Query(ctypes.Structure):
    _fields_ = [("mz", ctypes.c_double), ("tolerance", ctypes.c_double),
                ("exact", ctypes.c_int32), ("reserved", ctypes.c_int32)]


class _Totals(ctypes.Structure):
    _fields_ = [("points", ctypes.c_uint64), ("max_intensity", ctypes.c_double),
                ("flags", ctypes.c_uint32), ("reserved", ctypes.c_uint32)]


@dataclass(frozen=True)
class TraceTotals:
    """What the trace step reports over the whole run for one ion: its
    points, their largest intensity and the trace flags these raise, out of
    the flags (decides) that such totals settle."""

    points: int
    max_intensity: float
    flags: tuple[str, ...]
    decides: tuple[str, ...]


def qualifier_ion(target: Target, qualifier: Qualifier, rt: float) -> Target:
    """The target a qualifier ion is traced and fitted as: the qualifier's
    m/z with the target's tolerances, at rt, named target@mz."""
    return dataclasses.replace(target, name=f"{target.name}@{shortest_text(qualifier.mz)}",
                               mz=qualifier.mz, rt=rt, qualifiers=(), ri=None, ri_tol=None)


class CompactLibrary:
    """libvx_compact.so, loaded once per path."""

    def __init__(self, path: str):
        try:
            dll = ctypes.CDLL(os.path.abspath(path), mode=os.RTLD_LOCAL)
            f = {name: getattr(dll, "vxc_" + name) for name in (
                "compact_from_queries", "open", "close", "group_count", "group_of",
                "restrictable", "trace_range", "buffer_new", "buffer_free", "document",
                "totals", "flag_name")}
        except (OSError, AttributeError) as e:
            raise LibraryError(f"cannot load the compact documents library {path}: {e}") from e
        u64, i32, dbl, vp = ctypes.c_uint64, ctypes.c_int32, ctypes.c_double, ctypes.c_void_p
        signatures = {
            "compact_from_queries": (u64, []),
            "open": (i32, [vp, u64, ctypes.POINTER(_Query), u64, ctypes.POINTER(vp)]),
            "close": (None, [vp]),
            "group_count": (u64, [vp]),
            "group_of": (u64, [vp, u64]),
            "restrictable": (i32, [vp]),
            "trace_range": (i32, [dbl, dbl, ctypes.POINTER(dbl), ctypes.POINTER(dbl)]),
            "buffer_new": (vp, []),
            "buffer_free": (None, [vp]),
            "document": (i32, [vp, u64, i32, dbl, dbl, vp, ctypes.POINTER(vp),
                               ctypes.POINTER(u64)]),
            "totals": (i32, [vp, u64, ctypes.POINTER(_Totals)]),
            "flag_name": (ctypes.c_char_p, [ctypes.c_uint32, ctypes.POINTER(ctypes.c_uint32)]),
        }
        for name, (restype, argtypes) in signatures.items():
            f[name].restype, f[name].argtypes = restype, argtypes
        self._f = f
        self._dll = dll
        # Below this many queries the whole document is traced.
        self.compact_from = int(f["compact_from_queries"]())
        # (bit, name) of each trace flag the totals decide.
        self.trace_flags = flag_names(f["flag_name"])

    def trace_range(self, rt: float, rt_tol: float) -> Optional[tuple[float, float]]:
        """The scan times a target's restricted document holds; None when
        that is not a finite range (the target is traced on the whole run)."""
        lo, hi = ctypes.c_double(), ctypes.c_double()
        if not self._f["trace_range"](rt, rt_tol, ctypes.byref(lo), ctypes.byref(hi)):
            return None
        return lo.value, hi.value


def compact_library(step_library_path: str) -> CompactLibrary:
    """The compact documents library for a loaded step library:
    $VX_COMPACT_LIBRARY, else libvx_compact.so in the step library's folder."""
    return load_companion(step_library_path, "VX_COMPACT_LIBRARY", COMPACT_NAME,
                          "compact documents", CompactLibrary)


def _check(status: int, what: str) -> None:
    if status == 1:
        raise MemoryError(f"{what} ran out of memory")
    if status != 0:
        raise ValueError(f"{what} refused its arguments (status {status})")


class TargetDocuments:
    """The texts one file's targets (and, with qualifiers, their qualifier
    ions) are traced on. From the library's threshold of queries on, these
    are compact documents: a target with a finite window gets its group's
    document restricted to the scans near that window, with the whole run's
    totals beside it; a qualifier ion (traced at a time known only after its
    target's fit) and a target without a finite window get their group's
    whole document. Below the threshold every text is the spectra document
    itself. Valid while spectra is, and until close(); a document is valid
    until the calling thread asks for the next one."""

    def __init__(self, lib: CompactLibrary, spectra: _abi.RawText, targets: Sequence[Target],
                 qualifiers: bool):
        self._lib, self._spectra, self._targets = lib, spectra, targets
        self._handle = ctypes.c_void_p()
        self._buffers: list[int] = []
        self._local = threading.local()
        self._lock = threading.Lock()
        # Qualifier ions follow all targets in the query list, target by target.
        ions = [[qualifier_ion(t, q, t.rt) for q in t.qualifiers] if qualifiers else []
                for t in targets]
        self._first_ion: list[int] = []
        queries = [(t.mz, t.mz_tol, t.exact) for t in targets]
        for per_target in ions:
            self._first_ion.append(len(queries))
            queries += [(i.mz, i.mz_tol, i.exact) for i in per_target]
        if len(queries) < lib.compact_from:
            return
        array = (_Query * len(queries))(*(_Query(mz, tol, 1 if exact else 0, 0)
                                          for mz, tol, exact in queries))
        _check(lib._f["open"](spectra.address, spectra.size, array, len(queries),
                              ctypes.byref(self._handle)), "deriving the compact documents")
        self._restrict = bool(lib._f["restrictable"](self._handle))

    def __enter__(self) -> "TargetDocuments":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def close(self) -> None:
        f = self._lib._f
        with self._lock:
            for b in self._buffers:
                f["buffer_free"](b)
            self._buffers.clear()
            if self._handle:
                f["close"](self._handle)
                self._handle = ctypes.c_void_p()

    def _buffer(self) -> int:
        b = getattr(self._local, "buffer", None)
        if b is None:
            b = self._lib._f["buffer_new"]()
            if not b:
                raise MemoryError("no memory for a document buffer")
            with self._lock:
                self._buffers.append(b)
            self._local.buffer = b
        return b

    def _document(self, query: int, window: Optional[tuple[float, float]]) -> _abi.RawText:
        f = self._lib._f
        group = f["group_of"](self._handle, query)
        if group == _NO_GROUP:
            raise ValueError(f"query {query} is not among the compact documents' queries")
        data, size = ctypes.c_void_p(), ctypes.c_uint64()
        lo, hi = window if window is not None else (0.0, -1.0)
        _check(f["document"](self._handle, group, 1 if window is not None else 0, lo, hi,
                             self._buffer(), ctypes.byref(data), ctypes.byref(size)),
               "writing a compact document")
        return _abi.RawText(data.value or 0, size.value)

    def target(self, t: int) -> tuple[_abi.RawText, Optional[TraceTotals]]:
        """Target t's text, and the whole run's totals when the text is
        restricted in time (the trace's own then describe only that part)."""
        if not self._handle:
            return self._spectra, None
        target = self._targets[t]
        window = self._lib.trace_range(target.rt, target.rt_tol) if self._restrict else None
        text = self._document(t, window)
        if window is None:
            return text, None
        totals = _Totals()
        _check(self._lib._f["totals"](self._handle, t, ctypes.byref(totals)),
               "counting a trace's points")
        names = tuple(name for bit, name in self._lib.trace_flags if totals.flags & bit)
        return text, TraceTotals(int(totals.points), float(totals.max_intensity), names,
                                 self.trace_flag_names)

    def ion(self, t: int, i: int) -> _abi.RawText:
        """The text qualifier ion i of target t is traced on."""
        if not self._handle:
            return self._spectra
        return self._document(self._first_ion[t] + i, None)

    @property
    def trace_flag_names(self) -> tuple[str, ...]:
        """Every trace flag a TraceTotals may hold."""
        return tuple(name for _, name in self._lib.trace_flags)
