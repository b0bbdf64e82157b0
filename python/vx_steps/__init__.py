"""vx_steps: the vx_velloran_steps step library from Python.

The library is loaded with ctypes and called through its two exported
functions, as any host does::

    import vx_steps
    lib = vx_steps.open()                 # argument, $VX_STEPS_LIBRARY, installed folder
    run = lib.ingest("examples/sim_basic.mzML")
    trace = run.trace(73, tol=0.3)
    fit = trace.fit(1.178, rt_tol=0.1)
    table = vx_steps.batch(["data/"], [vx_steps.Target(73, 1.178, "P01")], jobs=2)
    table = vx_steps.batch("data/", "examples/targets.tsv")   # vxrun's targets table

Each row's fit is decided as vxrun decides it (columns detection,
signal_to_noise, integrated_area, ...; options min_sn, min_points,
deconvolve), through libvx_peaks.so beside the step library. With
samples=, rt_id_tol= or ratio_tol=, rows are identified as vxrun identifies
them (identified, identification_flags, ...), through libvx_ident.so. With
review=, an analyst's review.tsv overrides rows as vxrun's --review does,
through libvx_tables.so.

Step calls release the GIL, so threads calling the library run in parallel.
numpy is needed for traces; pandas only for batch().
"""

from __future__ import annotations

import os
from typing import Union

from ._abi import CallResult
from ._batch import COLUMNS, Row, batch, batch_rows, expand_inputs, to_frame
from ._chain import Fit, Library, Run, Trace
from ._documents import (FIT_SUCCESS, FLAG_EMPTY_TRACE, FLAG_NO_LOCAL_PEAK,
                         FLAG_UNSTABLE_FIT, ROW_FILE_NOT_FOUND, ROW_MALFORMED_NUMBER,
                         ROW_NO_MZML_FILES, ROW_NO_SPECTRA, ROW_OK, ROW_STEP_FAILED,
                         ROW_UNSUPPORTED_ENCODING)
from ._library import CONTRACT_DIGESTS, StepInfo
from ._peaks import DETECTED, NOT_DETECTED, DecisionOptions, PeakDecision
from ._targets import Qualifier, Target, read_targets
from .errors import (DocumentError, EmptyTraceError, FitError, FlagError, IngestError,
                     LibraryError, NoSpectraError, ReviewError, StepError, VxStepsError)

__all__ = [
    "open", "Library", "StepInfo", "CallResult", "Run", "Trace", "Fit", "Target",
    "Qualifier", "Row", "batch", "batch_rows", "expand_inputs", "read_targets", "to_frame",
    "COLUMNS", "CONTRACT_DIGESTS", "ROW_OK", "ROW_STEP_FAILED", "ROW_NO_SPECTRA",
    "ROW_NO_MZML_FILES", "ROW_FILE_NOT_FOUND", "ROW_UNSUPPORTED_ENCODING",
    "ROW_MALFORMED_NUMBER", "FLAG_EMPTY_TRACE", "FLAG_NO_LOCAL_PEAK", "FLAG_UNSTABLE_FIT",
    "FIT_SUCCESS", "VxStepsError", "LibraryError", "StepError", "FlagError",
    "IngestError", "NoSpectraError", "EmptyTraceError", "FitError", "DocumentError",
    "DecisionOptions", "PeakDecision", "DETECTED", "NOT_DETECTED", "ReviewError",
]


def open(path: Union[str, "os.PathLike[str]", None] = None) -> Library:  # noqa: A001
    """Loads the step library: ``path`` when given, else $VX_STEPS_LIBRARY,
    else the plugin folder recorded by ``cmake --install``. Raises
    LibraryError when it is missing, does not load, or its steps' contract
    digests are not the ones this package knows."""
    return Library(path)
