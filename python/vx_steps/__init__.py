"""vx_steps: the vx_velloran_steps step library from Python.

The library is loaded with ctypes and called through its two exported
functions, as any host does::

    import vx_steps
    lib = vx_steps.open()                 # argument, $VX_STEPS_LIBRARY, installed folder
    run = lib.ingest("examples/sim_basic.mzML")
    trace = run.trace(73, tol=0.3)
    fit = trace.fit(1.178, rt_tol=0.1)
    table = vx_steps.batch(["data/"], [vx_steps.Target(73, 1.178, "P01")], jobs=2)

Step calls release the GIL, so threads calling the library run in parallel.
numpy is needed for traces; pandas only for batch().
"""

from __future__ import annotations

import os
from typing import Union

from ._batch import COLUMNS, Target, batch, batch_rows, expand_inputs, to_frame
from ._chain import Fit, Run, Trace
from ._library import CONTRACT_DIGESTS, CallResult, Library, StepInfo
from .errors import (EmptyTraceError, FitError, FlagError, IngestError, LibraryError,
                     NoSpectraError, StepError, VxStepsError)

__all__ = [
    "open", "Library", "StepInfo", "CallResult", "Run", "Trace", "Fit", "Target",
    "batch", "batch_rows", "expand_inputs", "to_frame", "COLUMNS", "CONTRACT_DIGESTS",
    "VxStepsError", "LibraryError", "StepError", "FlagError", "IngestError",
    "NoSpectraError", "EmptyTraceError", "FitError",
]


def open(path: Union[str, "os.PathLike[str]", None] = None) -> Library:  # noqa: A001
    """Loads the step library: ``path`` when given, else $VX_STEPS_LIBRARY,
    else the plugin folder recorded by ``cmake --install``. Raises
    LibraryError when it is missing, does not load, or its steps' contract
    digests are not the ones this package knows."""
    return Library(path)
