"""Identification through libvx_ident.so (the C API of host/ident/vx_ident.h),
so that batch() judges its rows by the same code as ``vxrun batch --samples``:
references are the means over the detected standards of each target, the
targets table's values where no standard gives one. The library sits beside
the step library; $VX_IDENT_LIBRARY names another one."""

from __future__ import annotations

import ctypes
import os
from dataclasses import dataclass
from typing import Optional, Sequence

from ._companion import flag_names, from_c_number as _value, load_companion
from ._companion import to_c_number as _number
from .errors import LibraryError

IDENT_NAME = "libvx_ident.so"
IDENTIFIED_YES = "yes"
IDENTIFIED_NO = "no"
# vxrun's --rt-id-tol (minutes) and --ratio-tol (% of the reference ratio).
DEFAULT_RT_ID_TOL = 0.1
DEFAULT_RATIO_TOL = 30.0

_D = ctypes.POINTER(ctypes.c_double)
_I = ctypes.POINTER(ctypes.c_int32)
_U = ctypes.POINTER(ctypes.c_uint32)


class _Criteria(ctypes.Structure):
    _fields_ = [("rt_id_tol", ctypes.c_double), ("ratio_tol", ctypes.c_double),
                ("min_sn", ctypes.c_double), ("min_match", ctypes.c_double)]


class _Target(ctypes.Structure):
    _fields_ = [("n_files", ctypes.c_uint64), ("n_qualifiers", ctypes.c_uint32),
                ("reserved", ctypes.c_uint32), ("detected", _I), ("standard", _I),
                ("rt", _D), ("quantifier_sn", _D), ("match_score", _D),
                ("qualifier_ratio", _D), ("qualifier_sn", _D), ("table_rt", ctypes.c_double),
                ("table_percent", _D)]


class _Verdicts(ctypes.Structure):
    _fields_ = [("rt_reference", _D), ("reference_ratios", _D), ("identified", _I),
                ("failed", _U), ("rt_shift", _D)]


@dataclass
class FileMeasurement:
    """What one file says about one target, as the criteria take it."""

    detected: bool
    rt: Optional[float]
    quantifier_sn: Optional[float]
    qualifier_ratios: Sequence[Optional[float]]
    qualifier_sn: Sequence[Optional[float]]
    standard: bool  # a calibration standard holding an amount of the target


@dataclass(frozen=True)
class Verdicts:
    rt_reference: Optional[float]
    reference_ratios: tuple[Optional[float], ...]
    identified: tuple[bool, ...]
    failed: tuple[tuple[str, ...], ...]
    rt_shift: tuple[Optional[float], ...]


class IdentLibrary:
    """libvx_ident.so, loaded once per path."""

    def __init__(self, path: str):
        try:
            self._dll = ctypes.CDLL(os.path.abspath(path), mode=os.RTLD_LOCAL)
            identify = self._dll.vxi_identify_target
            flag_name = self._dll.vxi_flag_name
        except (OSError, AttributeError) as e:
            raise LibraryError(f"cannot load the identification library {path}: {e}") from e
        identify.restype = ctypes.c_int32
        identify.argtypes = [ctypes.POINTER(_Target), ctypes.POINTER(_Criteria),
                             ctypes.POINTER(_Verdicts)]
        flag_name.restype = ctypes.c_char_p
        flag_name.argtypes = [ctypes.c_uint32, ctypes.POINTER(ctypes.c_uint32)]
        self._identify = identify
        self._names = flag_names(flag_name)

    def identify(self, files: Sequence[FileMeasurement], table_rt: Optional[float],
                 table_percent: Sequence[float], rt_id_tol: float, ratio_tol: float,
                 min_sn: float = 3.0, min_match: float = 700.0) -> Verdicts:
        n, nq = len(files), len(table_percent)

        def doubles(values):
            values = list(values)
            return (ctypes.c_double * max(1, len(values)))(*(_number(v) for v in values))

        def ints(values):
            values = list(values)
            return (ctypes.c_int32 * max(1, len(values)))(*(1 if v else 0 for v in values))

        def padded(seq):
            return [seq[q] if q < len(seq) else None for q in range(nq)]

        keep = dict(
            detected=ints(f.detected for f in files), standard=ints(f.standard for f in files),
            rt=doubles(f.rt for f in files), sn=doubles(f.quantifier_sn for f in files),
            match=doubles(None for _ in files),
            ratio=doubles(r for f in files for r in padded(f.qualifier_ratios)),
            qsn=doubles(s for f in files for s in padded(f.qualifier_sn)),
            percent=doubles(table_percent))
        t = _Target(n, nq, 0, keep["detected"], keep["standard"], keep["rt"], keep["sn"],
                    keep["match"], keep["ratio"], keep["qsn"], _number(table_rt),
                    keep["percent"])
        rt_ref = (ctypes.c_double * 1)()
        ref_ratios = (ctypes.c_double * max(1, nq))()
        identified = (ctypes.c_int32 * max(1, n))()
        failed = (ctypes.c_uint32 * max(1, n))()
        shift = (ctypes.c_double * max(1, n))()
        out = _Verdicts(rt_ref, ref_ratios, identified, failed, shift)
        c = _Criteria(rt_id_tol, ratio_tol, min_sn, min_match)
        status = self._identify(ctypes.byref(t), ctypes.byref(c), ctypes.byref(out))
        if status == 1:
            raise MemoryError("identification ran out of memory")
        if status != 0:
            raise LibraryError(f"identification refused its input (status {status})")
        return Verdicts(_value(rt_ref[0]), tuple(_value(ref_ratios[q]) for q in range(nq)),
                        tuple(identified[i] != 0 for i in range(n)),
                        tuple(tuple(name for bit, name in self._names if failed[i] & bit)
                              for i in range(n)),
                        tuple(_value(shift[i]) for i in range(n)))


def ident_library(step_library_path: str) -> IdentLibrary:
    """The identification library for a loaded step library:
    $VX_IDENT_LIBRARY, else libvx_ident.so in the step library's folder."""
    return load_companion(step_library_path, "VX_IDENT_LIBRARY", IDENT_NAME, "identification",
                          IdentLibrary)
