"""Finding, loading and checking the step library, and calling its steps.
The GC-MS chain on top of it (Library.ingest) lives in _chain."""

from __future__ import annotations

import ctypes
import os
from dataclasses import dataclass
from typing import Optional, Sequence, Union

from . import _abi, _location
from .errors import LibraryError, StepError

PLUGIN_NAME = "vx_velloran_steps.so"
IRI_STEM = "/vx#generated/vx/velloran/"

# The contract digest published with each step. A library whose table holds
# other digests implements other contracts, and its documents would not mean
# what this package reads them as.
CONTRACT_DIGESTS = {
    "OperationStepDemo":
        "110bb286e1b9dc3fb19a62dd6a1528fc1a39c68ace537634efd37c1281965ced",
    "ReadMassSpecFiles":
        "d7568b480c1c679c76d8feb28105d3ab967eabb5d5152f1ed0cddb8aad10705b",
    "GcMsMzmlIngestionStep":
        "b6b1c1476c3017c997ff9cecbe1f72bbda6cf5a65616d4223ea1954d8b71d315",
    "GcMsSimTraceExtractionStep":
        "345fa1bd30425ef14482e3ca1bb7a6d47a9f8d72c3de87494b74f1f4a198bb28",
    "GcMsTargetedGaussianFitStep":
        "f18bbaada5ed7e3aad18bcd18faefb33156ea9c8f8db43fbb1b82b1b547a4dff",
}

PathArg = Union[str, "os.PathLike[str]", None]


@dataclass(frozen=True)
class StepInfo:
    """One step of the library's table."""

    name: str
    iri: str
    digest: str


def candidate_paths(path: PathArg = None) -> list[tuple[str, str]]:
    """Where the library is looked for, in order, each with where the
    candidate came from: the argument, $VX_STEPS_LIBRARY, the plugin folder
    recorded when the package was installed with the project."""
    if path is not None:
        return [(os.fspath(path), "the path given")]
    found = []
    env = os.environ.get("VX_STEPS_LIBRARY", "")
    if env:
        found.append((env, "$VX_STEPS_LIBRARY"))
    if _location.PLUGIN_DIR:
        found.append((os.path.join(_location.PLUGIN_DIR, PLUGIN_NAME),
                      "the installed plugin folder"))
    return found


def _load(path: PathArg) -> tuple[ctypes.CDLL, str]:
    candidates = candidate_paths(path)
    if not candidates:
        raise LibraryError(
            f"cannot find {PLUGIN_NAME}: pass its path to vx_steps.open(), set "
            "VX_STEPS_LIBRARY, or install the package with the project "
            "(cmake --install), which records the plugin folder")
    # The first candidate that is given decides, as in vxrun: a wrong
    # $VX_STEPS_LIBRARY is an error, not a reason to load another library.
    where, source = candidates[0]
    if not os.path.isfile(where):
        raise LibraryError(f"no step library at {where} ({source})")
    try:
        # RTLD_LOCAL: the library's symbols stay out of the global namespace.
        return ctypes.CDLL(os.path.abspath(where), mode=os.RTLD_LOCAL), where
    except OSError as e:
        raise LibraryError(f"cannot load the step library {where} ({source}): {e}") from e


class StepLibrary:
    """A loaded step library. Thread-safe: it holds only the resolved,
    constant step table, and every call has its own host context."""

    def __init__(self, path: PathArg = None):
        self._dll, self.path = _load(path)
        try:
            list_steps = self._dll.vx_list_steps
            resolve = self._dll.vx_resolve_step
        except AttributeError as e:
            raise LibraryError(
                f"{self.path} does not export vx_list_steps and vx_resolve_step") from e
        list_steps.argtypes = [ctypes.POINTER(ctypes.POINTER(ctypes.c_char_p))]
        list_steps.restype = ctypes.c_int32
        resolve.argtypes = [ctypes.c_char_p, ctypes.POINTER(_abi.StepDescriptor)]
        resolve.restype = ctypes.c_int32
        self._steps: list[StepInfo] = []
        self._entries: dict[str, object] = {}
        iris = ctypes.POINTER(ctypes.c_char_p)()
        for i in range(max(0, list_steps(ctypes.byref(iris)))):
            d = _abi.StepDescriptor()
            if not iris or resolve(iris[i], ctypes.byref(d)) != 0 or not d.entry:
                raise LibraryError(f"{self.path}: step {i} of its list does not resolve")
            iri = d.iri.decode("utf-8", "replace")
            info = StepInfo(iri.rsplit("/", 1)[-1], iri,
                            (d.contract_digest or b"").decode("ascii", "replace"))
            self._steps.append(info)
            self._entries[info.name] = _abi.StepEntry(d.entry)
        self._check_contracts()

    def _check_contracts(self) -> None:
        have = {s.name: s for s in self._steps}
        problems = []
        for name, digest in CONTRACT_DIGESTS.items():
            step = have.get(name)
            if step is None:
                problems.append(f"it lacks the step {name}")
            elif step.digest != digest:
                problems.append(f"{name} has contract digest {step.digest}, "
                                f"this package knows {digest}")
            elif IRI_STEM not in step.iri:
                problems.append(f"{name} has the unexpected IRI {step.iri}")
        if problems:
            raise LibraryError(f"{self.path} is not the step library this package "
                               "was written for: " + "; ".join(problems))

    def steps(self) -> list[StepInfo]:
        """The steps in table order: name, IRI and contract digest."""
        return list(self._steps)

    def step(self, name_or_iri: str) -> StepInfo:
        """The step whose name or whole IRI is given."""
        for s in self._steps:
            if name_or_iri in (s.name, s.iri):
                return s
        raise LibraryError(f"{self.path} has no step {name_or_iri}")

    def call(self, step: str, params: Sequence[_abi.Value] = (),
             inputs: Sequence[_abi.Value] = (), n_outputs: int = 3,
             check: bool = True) -> _abi.CallResult:
        """Calls any step by name or IRI.

        Values: ``str``, ``bytes`` and paths are text; ``float`` is a 64-bit
        float, ``int`` a 64-bit integer. Inputs are handed over through the
        host's ``get_input_text`` as their own bytes. Returns the status and
        the outputs (bytes for texts, float for numbers, None for a slot the
        step did not write). With ``check`` (the default) a status other than
        0 raises StepError."""
        outcome = self.call_raw(step, params, inputs, n_outputs)
        if check and outcome.status != _abi.STATUS_OK:
            raise StepError(self.step(step).name, outcome.status)
        return outcome

    def call_raw(self, step: str, params: Sequence[_abi.Value],
                 inputs: Sequence[_abi.Value], n_outputs: int,
                 sinks: Optional[dict[int, _abi.TextSink]] = None) -> _abi.CallResult:
        """One call, no status check; sinks see output texts in place."""
        return _abi.call_entry(self._entries[self.step(step).name], params, inputs,
                               n_outputs, sinks)

    def __repr__(self) -> str:
        return f"<vx_steps.Library {self.path!r}>"
