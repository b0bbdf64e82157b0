"""ANDI-MS netCDF (.cdf) files read through libvx_formats.so, the same reader
vxrun uses (C API vx_formats.h), found beside the loaded step library as in
the build tree and the install folder. It gives the spectra and run-summary
documents the ingestion step writes for the same spectra."""

from __future__ import annotations

import ctypes
import os
from dataclasses import dataclass

from ._library import StepLibrary
from .errors import LibraryError

FORMATS_NAME = "libvx_formats.so"
ANDI_OK = 0
ANDI_NOT_NETCDF = 1
ANDI_NO_MASS_SPECTRA = 2
ANDI_INCONSISTENT_FILE = 3
ANDI_INCOMPLETE_FILE = 4
ANDI_UNREADABLE = 5


def is_andi_path(path: str) -> bool:
    """ANDI/AIA exports are named .cdf (any letter case) by every data system."""
    return path.lower().endswith(".cdf")


@dataclass(frozen=True)
class AndiDocuments:
    status: int
    message: str
    spectra: bytes
    summary: bytes


def _formats_dll(lib: StepLibrary) -> ctypes.CDLL:
    # One handle per step library object, kept on it (no module-level state).
    dll = getattr(lib, "_formats_dll", None)
    if dll is not None:
        return dll
    where = os.path.join(os.path.dirname(os.path.abspath(lib.path)), FORMATS_NAME)
    try:
        dll = ctypes.CDLL(where, mode=os.RTLD_LOCAL)
    except OSError as e:
        raise LibraryError(f"cannot load the netCDF reader {where}: {e}") from e
    dll.vxf_read_andi.restype = ctypes.c_int32
    dll.vxf_read_andi.argtypes = [ctypes.c_char_p, ctypes.POINTER(ctypes.c_void_p),
                                  ctypes.POINTER(ctypes.c_size_t),
                                  ctypes.POINTER(ctypes.c_void_p),
                                  ctypes.POINTER(ctypes.c_size_t),
                                  ctypes.POINTER(ctypes.c_void_p)]
    dll.vxf_free.restype = None
    dll.vxf_free.argtypes = [ctypes.c_void_p]
    lib._formats_dll = dll  # type: ignore[attr-defined]
    return dll


def read_andi(lib: StepLibrary, path: str) -> AndiDocuments:
    """Reads the file; on any status but ANDI_OK the documents are empty and
    the message says why."""
    dll = _formats_dll(lib)
    spectra, summary, message = ctypes.c_void_p(), ctypes.c_void_p(), ctypes.c_void_p()
    n_spectra, n_summary = ctypes.c_size_t(), ctypes.c_size_t()
    status = dll.vxf_read_andi(os.fsencode(path), ctypes.byref(spectra), ctypes.byref(n_spectra),
                               ctypes.byref(summary), ctypes.byref(n_summary),
                               ctypes.byref(message))
    try:
        return AndiDocuments(
            status=int(status),
            message=(ctypes.string_at(message.value).decode("utf-8", "replace")
                     if message.value else ""),
            spectra=ctypes.string_at(spectra.value, n_spectra.value) if spectra.value else b"",
            summary=ctypes.string_at(summary.value, n_summary.value) if summary.value else b"")
    finally:
        for p in (spectra, summary, message):
            dll.vxf_free(p)
