"""The exceptions of vx_steps. Every one derives from VxStepsError."""

from __future__ import annotations

from typing import Any, Optional


class VxStepsError(Exception):
    """Base class of every error this package raises on purpose."""


class LibraryError(VxStepsError):
    """The step library cannot be found or loaded, lacks a step, or is not
    the library this package was written for (its contract digests differ)."""


class DocumentError(VxStepsError):
    """A document a step wrote, or a table the caller gave, cannot be read:
    not a JSON object where one is expected, or a targets table that breaks
    the rules vxrun reads it by (the message names the source and line)."""


class ReviewError(DocumentError):
    """A review file (review=) cannot be applied: a decision names a file or
    target the batch does not have, a bad action, bounds or escape, or an
    integration without trace points. ``errors`` holds vxrun's messages,
    "SOURCE:LINE: what", one per decision."""

    def __init__(self, errors: list[str]):
        self.errors = list(errors)
        super().__init__("\n".join(self.errors))


class StepError(VxStepsError):
    """A step returned a status other than 0.

    ``status`` is the step's status; ``step`` its name."""

    _MEANING = {
        1: "host error: no host services, or the host refused an output",
        2: "invalid input: too few or unreadable values, or an internal error",
    }

    def __init__(self, step: str, status: int):
        self.step = step
        self.status = status
        meaning = self._MEANING.get(status, "the host's own answer to the last output")
        super().__init__(f"{step} returned status {status} ({meaning})")


class FlagError(VxStepsError):
    """A step ran but raised a diagnostics flag that means failure.

    ``flag`` is the full key (``gcms.ingest.file_not_found``), ``meaning``
    says what it means, ``result`` holds what the step produced (a Trace or a
    Fit) when there is one."""

    def __init__(self, flag: str, meaning: str, result: Optional[Any] = None):
        self.flag = flag
        self.meaning = meaning
        self.result = result
        super().__init__(f"{flag}: {meaning}")


class IngestError(FlagError):
    """The file could not be used: ``reason`` is ``file_not_found``,
    ``unsupported_encoding``, ``malformed_number`` or ``no_spectra``, as in
    the ``status`` column of a batch table; ``path`` is the file."""

    def __init__(self, path: str, reason: str, meaning: str):
        self.path = path
        self.reason = reason
        super().__init__("gcms.ingest." + reason, f"{meaning} ({path})")


class NoSpectraError(IngestError):
    """The file was read but yields no spectra (not mzML, or a form the
    reader does not know, such as mzXML or namespace-prefixed elements)."""


class EmptyTraceError(FlagError):
    """No spectrum holds an ion in the trace's mass window."""


class FitError(FlagError):
    """The fit found no local peak, or did not settle; ``result`` is the Fit
    with every value the step reported."""
