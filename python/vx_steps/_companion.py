"""What the package's companion libraries (libvx_peaks.so, libvx_ident.so,
libvx_compact.so, libvx_tables.so) share: where they are found, loading each
once per path, their flag-name tables, and NaN for an absent number across the
C boundary."""

from __future__ import annotations

import ctypes
import math
import os
import threading
from typing import Callable, Optional, TypeVar

from .errors import LibraryError

L = TypeVar("L")

_loaded: dict[str, object] = {}
_lock = threading.Lock()


def to_c_number(v: Optional[float]) -> float:
    """An absent or NaN value as the C side's NaN."""
    return float(v) if v is not None and not math.isnan(v) else math.nan


def from_c_number(v: float) -> Optional[float]:
    return v if math.isfinite(v) else None


def flag_names(flag_name: Callable) -> tuple[tuple[int, str], ...]:
    """(bit, name) pairs in the order vxrun writes the flags, read from a
    vx*_flag_name(index, &bit) function that returns NULL past the end."""
    names = []
    bit = ctypes.c_uint32()
    while (name := flag_name(len(names), ctypes.byref(bit))) is not None:
        names.append((bit.value, name.decode()))
    return tuple(names)


def load_companion(step_library_path: str, env: str, file_name: str, what: str,
                   make: Callable[[str], L]) -> L:
    """$env, else file_name in the step library's folder, loaded once."""
    path = os.environ.get(env, "") or os.path.join(
        os.path.dirname(os.path.abspath(step_library_path)), file_name)
    with _lock:
        if path not in _loaded:
            if not os.path.isfile(path):
                raise LibraryError(f"no {what} library at {path} (it is built and "
                                   f"installed beside the step library; or set {env})")
            _loaded[path] = make(path)
        return _loaded[path]  # type: ignore[return-value]
