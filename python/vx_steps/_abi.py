"""The boundary records of vx_steps.h in ctypes, and one step call.

Every record mirrors the C header field for field: StepValue (kind, data,
size), HostContext (two words of host data, then the api pointer), HostApi
(eight slots, of which the library calls 1, 4 and 7) and StepDescriptor
(iri, contract_digest, entry, reserved).

A call gets its own callback table and context, so calls never share state
and may run on any number of threads at once. ctypes releases the GIL while
a step runs and takes it again only inside our callbacks.
"""

from __future__ import annotations

import ctypes
import numbers
import os
from ctypes import (CFUNCTYPE, POINTER, Structure, c_char_p, c_double,
                    c_int32, c_uint64, c_void_p, sizeof)
from dataclasses import dataclass, field
from typing import Callable, Optional, Sequence, Union

KIND_TEXT = 1
KIND_INT64 = 3
KIND_FLOAT64 = 4

STATUS_OK = 0
STATUS_HOST_ERROR = 1
STATUS_INVALID_INPUT = 2

# What this host answers when it cannot take an output (our own copy or sink
# failed): the step stops its output chain, and the call raises afterwards.
_REFUSED = -1


class StepValue(Structure):
    _fields_ = [("kind", c_int32), ("data", c_void_p), ("size", c_uint64)]


# Pointers arrive as plain addresses: cheaper than ctypes pointer objects,
# and the callbacks only do address arithmetic on them.
GetInputText = CFUNCTYPE(c_int32, c_void_p, c_void_p, c_void_p, c_void_p)
SetOutputNumber = CFUNCTYPE(c_int32, c_void_p, c_void_p, c_double)
SetOutputText = CFUNCTYPE(c_int32, c_void_p, c_void_p, c_void_p, c_uint64)


class HostApi(Structure):
    _fields_ = [("slot0", c_void_p), ("get_input_text", GetInputText),
                ("slot2", c_void_p), ("slot3", c_void_p),
                ("set_output_number", SetOutputNumber),
                ("slot5", c_void_p), ("slot6", c_void_p),
                ("set_output_text", SetOutputText)]


class HostContext(Structure):
    _fields_ = [("host_data", c_void_p * 2), ("api", POINTER(HostApi))]


StepEntry = CFUNCTYPE(c_int32, POINTER(HostContext), POINTER(StepValue),
                      c_uint64, POINTER(StepValue), c_uint64,
                      POINTER(StepValue), c_uint64)


class StepDescriptor(Structure):
    _fields_ = [("iri", c_char_p), ("contract_digest", c_char_p),
                ("entry", c_void_p), ("reserved", ctypes.c_size_t)]


@dataclass(frozen=True)
class RawText:
    """Text that lives outside Python (an address and a length), handed to a
    step without a copy. Valid only as long as its owner keeps it."""

    address: int
    size: int


Value = Union[str, bytes, bytearray, memoryview, float, int, RawText,
              "os.PathLike[str]"]

# Receives an output text while the step still holds it; the view is valid
# only during the call.
TextSink = Callable[[RawText], None]


@dataclass
class CallResult:
    """What a step call gave: its status and, per output slot, the text
    (bytes) or number (float) the step handed over, or None."""

    status: int
    outputs: list[Union[bytes, float, None]] = field(default_factory=list)


def _fill(slot: StepValue, value: Value, keep: list) -> None:
    """Points slot at value's bytes; keep holds what must outlive the call."""
    if isinstance(value, bool):
        raise TypeError("a step value is text, an integer or a float, not bool")
    if isinstance(value, RawText):
        slot.kind, slot.data, slot.size = KIND_TEXT, value.address, value.size
        return
    # numbers.*, so that numpy scalars pass as the numbers they are.
    if isinstance(value, numbers.Integral):
        if not -2**63 <= int(value) < 2**63:
            raise OverflowError(f"{value} does not fit a 64-bit integer")
        box = ctypes.c_int64(int(value))
        kind = KIND_INT64
    elif isinstance(value, numbers.Real):
        box = c_double(float(value))
        kind = KIND_FLOAT64
    else:
        if isinstance(value, str):
            data = value.encode("utf-8")
        elif isinstance(value, os.PathLike):
            data = os.fsencode(value)
        elif isinstance(value, (bytearray, memoryview)):
            data = bytes(value)
        elif isinstance(value, bytes):
            data = value
        else:
            raise TypeError(f"cannot pass {type(value).__name__} to a step")
        keep.append(data)
        # c_char_p over a bytes object points at its own buffer: no copy.
        slot.kind, slot.size = KIND_TEXT, len(data)
        slot.data = ctypes.cast(c_char_p(data), c_void_p).value if data else None
        return
    keep.append(box)
    slot.kind, slot.data, slot.size = kind, ctypes.addressof(box), 8


def _values(values: Sequence[Value], keep: list):
    array = (StepValue * max(len(values), 1))()
    for slot, value in zip(array, values):
        _fill(slot, value, keep)
    return array


class _Call:
    """The host side of one step call: the callbacks and what they received."""

    def __init__(self, n_outputs: int, sinks: dict[int, TextSink]):
        self.outputs = (StepValue * max(n_outputs, 1))()
        self.base = ctypes.addressof(self.outputs)
        self.received: list = [None] * n_outputs
        self.sinks = sinks
        self.error: Optional[BaseException] = None
        self.api = HostApi()
        self.api.get_input_text = GetInputText(self._get_input_text)
        self.api.set_output_number = SetOutputNumber(self._set_output_number)
        self.api.set_output_text = SetOutputText(self._set_output_text)
        self.context = HostContext()
        self.context.api = ctypes.pointer(self.api)

    def _slot(self, output: int) -> int:
        return (output - self.base) // sizeof(StepValue)

    # The input's own bytes are handed over, as the record says.
    @staticmethod
    def _get_input_text(_host, value, text, length) -> int:
        try:
            record = StepValue.from_address(value)
            c_void_p.from_address(text).value = record.data
            c_uint64.from_address(length).value = record.size
            return 0
        except BaseException:  # never unwind through the library
            return _REFUSED

    def _set_output_number(self, _host, output, number) -> int:
        try:
            self.received[self._slot(output)] = float(number)
            return 0
        except BaseException as e:
            self.error = self.error or e
            return _REFUSED

    # The text is the step's buffer, freed when this returns: it is copied
    # here, or shown to the slot's sink, never kept as a pointer.
    def _set_output_text(self, _host, output, text, length) -> int:
        try:
            slot = self._slot(output)
            if not text and length:
                raise ValueError("the step handed a null text with a length")
            sink = self.sinks.get(slot)
            if sink is not None:
                sink(RawText(text or 0, length))
                self.received[slot] = b""
            else:
                self.received[slot] = ctypes.string_at(text, length) if length else b""
            return 0
        except BaseException as e:
            self.error = self.error or e
            return _REFUSED


def call_entry(entry, params: Sequence[Value], inputs: Sequence[Value],
               n_outputs: int, sinks: Optional[dict[int, TextSink]] = None) -> CallResult:
    """Calls a step entry with fresh output slots; re-raises, after the step
    has returned, any error raised while taking its outputs."""
    if n_outputs < 0:
        raise ValueError("n_outputs must be 0 or more")
    keep: list = []
    p = _values(params, keep)
    i = _values(inputs, keep)
    call = _Call(n_outputs, sinks or {})
    status = entry(ctypes.byref(call.context), p, len(params), i, len(inputs),
                   call.outputs, n_outputs)
    if call.error is not None:
        raise call.error
    return CallResult(int(status), call.received)
