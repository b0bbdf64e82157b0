"""Which file jobs a review file concerns, and the review each one gets.

A manual integration needs the target's trace, which only the file's own
job has: `vxrun merge --review` accepts an integration only when the part
already made it. So each job whose files a review integrates runs
`vxrun batch --review` on a copy of the review that keeps the header and the
integrations of its own files; every other line becomes a comment, so that
vxrun's messages name the line of the analyst's file. The gather applies the
whole file: the rejections, the check of every decision against the batch,
and the digest. The matching is vxrun's: a file by its whole path as the
inputs list it, else by its file name when exactly one input has it; cells
use the results table's escapes. Everything else (actions, bounds, targets)
is left to vxrun.
"""

from __future__ import annotations

import os
from typing import Sequence

INTEGRATE = "integrate"
_ESCAPES = {"t": "\t", "n": "\n", "r": "\r", "\\": "\\"}


class ReviewFileError(Exception):
    """The review file cannot be read."""


def _unescape(cell: str) -> str:
    out, i = [], 0
    while i < len(cell):
        if cell[i] == "\\" and i + 1 < len(cell) and cell[i + 1] in _ESCAPES:
            out.append(_ESCAPES[cell[i + 1]])
            i += 2
        else:
            out.append(cell[i])
            i += 1
    return "".join(out)


def _read(path: str) -> list[str]:
    try:
        with open(path, "rb") as f:
            return f.read().decode("utf-8", errors="replace").split("\n")
    except OSError as e:
        raise ReviewFileError(f"{path}: cannot read the review: {e}") from e


def _file_index(name: str, files: Sequence[str]) -> int:
    if name in files:
        return files.index(name)
    base = os.path.basename(name)
    hits = [i for i, f in enumerate(files) if os.path.basename(f) == base]
    return hits[0] if len(hits) == 1 else -1


def _integrated_files(lines: list[str], files: Sequence[str]) -> list[int]:
    """For each line, the input its integration names (-1: not one)."""
    out = [-1] * len(lines)
    header_seen = False
    for number, line in enumerate(lines):
        stripped = line.strip(" \t\r")
        if not stripped or stripped.startswith("#"):
            continue
        if not header_seen:
            header_seen = True
            continue
        cells = line.rstrip("\r").split("\t")
        if len(cells) >= 3 and _unescape(cells[2]) == INTEGRATE:
            out[number] = _file_index(_unescape(cells[0]), files)
    return out


def integrated(path: str, files: Sequence[str]) -> set[str]:
    """The inputs the review integrates by hand."""
    lines = _read(path)
    return {files[i] for i in _integrated_files(lines, files) if i >= 0}


def part_review(path: str, files: Sequence[str], chunk: Sequence[str]) -> str:
    """The review for the job of `chunk`: the header, blank and comment
    lines and the integrations of its files, every other line a comment."""
    lines = _read(path)
    mine = {files.index(f) for f in chunk if f in files}
    keep = _integrated_files(lines, files)
    header_seen = False
    out = []
    for number, line in enumerate(lines):
        stripped = line.strip(" \t\r")
        if not stripped or stripped.startswith("#"):
            out.append(line)
        elif not header_seen:
            header_seen = True
            out.append(line)
        else:
            out.append(line if keep[number] in mine else "# (another job's decision)")
    return "\n".join(out)

