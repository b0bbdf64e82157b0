"""Peak decisions through libvx_peaks.so (the C API of host/peaks/vx_peaks.h),
so that a row of batch() is decided by the same code as a row of vxrun. The
library sits beside the step library, in the build tree and in the installed
plugin folder alike; $VX_PEAKS_LIBRARY names another one."""

from __future__ import annotations

import ctypes
import math
import os
from dataclasses import dataclass
from typing import Optional, Sequence

from ._companion import flag_names, from_c_number as _value, load_companion
from ._companion import to_c_number as _number
from .errors import LibraryError

PEAKS_NAME = "libvx_peaks.so"
DETECTED = "detected"
NOT_DETECTED = "not_detected"
# The defaults of vxrun's --min-sn and --min-points (chosen by measurement:
# see the README's "Peak decisions").
DEFAULT_MIN_SN = 5.0
DEFAULT_MIN_POINTS = 7


class _Fit(ctypes.Structure):
    _fields_ = [("converged", ctypes.c_int32), ("reserved", ctypes.c_int32),
                ("center", ctypes.c_double), ("height", ctypes.c_double),
                ("width", ctypes.c_double), ("baseline", ctypes.c_double),
                ("window_min", ctypes.c_double), ("window_max", ctypes.c_double)]


class _Options(ctypes.Structure):
    _fields_ = [("min_sn", ctypes.c_double), ("min_points", ctypes.c_int32),
                ("deconvolve", ctypes.c_int32)]


class _Decision(ctypes.Structure):
    _fields_ = [("detected", ctypes.c_int32), ("flags", ctypes.c_uint32),
                ("noise", ctypes.c_double), ("signal_to_noise", ctypes.c_double),
                ("integrated_area", ctypes.c_double), ("peak_start", ctypes.c_double),
                ("peak_end", ctypes.c_double), ("asymmetry", ctypes.c_double),
                ("component_area", ctypes.c_double)]


@dataclass(frozen=True)
class DecisionOptions:
    """What decides a fit: min_sn (height over noise SD), min_points (trace
    points within 2 sigma of the center) and deconvolve (on a coelution, the
    target component's area of a two-peak fit)."""

    min_sn: float = DEFAULT_MIN_SN
    min_points: int = DEFAULT_MIN_POINTS
    deconvolve: bool = False

    def __post_init__(self) -> None:
        if not (math.isfinite(self.min_sn) and self.min_sn >= 0):
            raise ValueError(f"min_sn must be a number of 0 or more, not {self.min_sn!r}")
        if isinstance(self.min_points, bool) or not isinstance(self.min_points, int) \
                or not 1 <= self.min_points <= 10000:
            raise ValueError(f"min_points must be a whole number from 1 to 10000, "
                             f"not {self.min_points!r}")


@dataclass(frozen=True)
class PeakDecision:
    """A fit's decision; None where a value could not be measured."""

    detection: str
    flags: tuple[str, ...]
    noise: Optional[float]
    signal_to_noise: Optional[float]
    integrated_area: Optional[float]
    peak_start: Optional[float]
    peak_end: Optional[float]
    asymmetry: Optional[float]
    component_area: Optional[float]


def _doubles(values: Sequence[Optional[float]]) -> ctypes.Array:
    """values as a C array, absent ones as NaN. Plain numbers (a trace's
    points, hundreds per target) go in as they are; only a list holding None
    or another type takes the per-value path."""
    try:
        return (ctypes.c_double * len(values))(*values)
    except TypeError:
        return (ctypes.c_double * len(values))(*(_number(x) for x in values))


class PeaksLibrary:
    """libvx_peaks.so, loaded once per path."""

    def __init__(self, path: str):
        try:
            self._dll = ctypes.CDLL(os.path.abspath(path), mode=os.RTLD_LOCAL)
            decide = self._dll.vxp_decide_peak
            flag_name = self._dll.vxp_flag_name
        except (OSError, AttributeError) as e:
            raise LibraryError(f"cannot load the peak decisions library {path}: {e}") from e
        decide.restype = ctypes.c_int32
        decide.argtypes = [ctypes.POINTER(ctypes.c_double), ctypes.POINTER(ctypes.c_double),
                           ctypes.c_uint64, ctypes.POINTER(_Fit), ctypes.POINTER(_Options),
                           ctypes.POINTER(_Decision)]
        flag_name.restype = ctypes.c_char_p
        flag_name.argtypes = [ctypes.c_uint32, ctypes.POINTER(ctypes.c_uint32)]
        self._decide = decide
        # (bit, name) in the order vxrun writes the flags.
        self._names = flag_names(flag_name)

    def decide(self, times: Sequence[float], intensities: Sequence[float], fit: dict,
               converged: bool, options: DecisionOptions) -> PeakDecision:
        """fit is the fit step's result document as a dict."""
        n = min(len(times), len(intensities))
        t, y = _doubles(times[:n]), _doubles(intensities[:n])
        f = _Fit(1 if converged else 0, 0, *(
            _number(fit.get(k) if isinstance(fit.get(k), (int, float)) else None)
            for k in ("fitted_retention_time", "peak_height", "peak_width", "baseline",
                      "fit_window_min", "fit_window_max")))
        o = _Options(options.min_sn, options.min_points, 1 if options.deconvolve else 0)
        d = _Decision()
        status = self._decide(t, y, n, ctypes.byref(f), ctypes.byref(o), ctypes.byref(d))
        if status != 0:
            raise MemoryError("the peak decision ran out of memory")
        names = tuple(name for bit, name in self._names if d.flags & bit)
        return PeakDecision(DETECTED if d.detected else NOT_DETECTED, names, _value(d.noise),
                            _value(d.signal_to_noise), _value(d.integrated_area),
                            _value(d.peak_start), _value(d.peak_end), _value(d.asymmetry),
                            _value(d.component_area))


def peaks_library(step_library_path: str) -> PeaksLibrary:
    """The decisions library for a loaded step library: $VX_PEAKS_LIBRARY,
    else libvx_peaks.so in the step library's folder."""
    return load_companion(step_library_path, "VX_PEAKS_LIBRARY", PEAKS_NAME, "peak decisions",
                          PeaksLibrary)
