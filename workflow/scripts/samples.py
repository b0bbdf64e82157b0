"""Which files of a sample list are not among the workflow's inputs.

The sample list is only read by the gather, after every file job; a list
that names a file outside the inputs would fail there, hours later. The
Snakefile asks this module when it plans the file jobs, so such a list
fails in the first seconds. The matching is vxrun's (merge and batch
--samples): an entry names a file by its path, its file name, or its file
name without the .mzML / .mzML.gz ending (any case). Everything else in the
list (types, amounts, targets) is left to vxrun's own check at the gather.
"""

from __future__ import annotations

import csv
import os
from typing import Sequence

# The header names vxrun takes for the file column (any case).
FILE_COLUMNS = ("file", "filename", "path")
_MZML_ENDINGS = (".mzml.gz", ".mzml")
_BLANKS = " \t\r"


class SampleListError(Exception):
    """The sample list cannot be read or names files outside the inputs."""


def _delimiter(header: str) -> str:
    # vxrun's rule: a tab anywhere, else the more frequent of ',' and ';'
    # outside quotes.
    if "\t" in header:
        return "\t"
    commas = semicolons = 0
    quoted = False
    for c in header:
        if c == '"':
            quoted = not quoted
        elif not quoted:
            commas += c == ","
            semicolons += c == ";"
    return ";" if semicolons > commas else ","


def _content_lines(text: str) -> list[tuple[int, str]]:
    # Blank lines and lines starting with '#' are not rows, as in vxrun.
    out = []
    for number, line in enumerate(text.splitlines(), start=1):
        stripped = line.strip(_BLANKS)
        if stripped and not stripped.startswith("#"):
            out.append((number, line))
    return out


def listed_files(path: str) -> list[tuple[int, str]]:
    """(line, file) for each row of the sample list, as written there."""
    try:
        with open(path, encoding="utf-8-sig", newline="") as f:
            text = f.read()
    except (OSError, UnicodeDecodeError) as e:
        raise SampleListError(f"{path}: cannot read the sample list: {e}") from e
    lines = _content_lines(text)
    if not lines:
        return []
    delimiter = _delimiter(lines[0][1])
    rows = list(csv.reader([line for _, line in lines], delimiter=delimiter))
    header = [cell.strip(_BLANKS).lower() for cell in rows[0]]
    column = next((i for i, h in enumerate(header) if h in FILE_COLUMNS), None)
    if column is None:
        # vxrun names the missing column at the gather; nothing to compare here.
        return []
    out = []
    for (number, _), row in zip(lines[1:], rows[1:]):
        name = row[column].strip(_BLANKS) if column < len(row) else ""
        if name:
            out.append((number, name))
    return out


def _names(path: str) -> tuple[str, str, str]:
    base = os.path.basename(path)
    short = base
    for end in _MZML_ENDINGS:
        if len(base) > len(end) and base.lower().endswith(end):
            short = base[: -len(end)]
            break
    return path, base, short


def unmatched(samples: str, files: Sequence[str]) -> list[tuple[int, str]]:
    """(line, file) of each sample list entry that names none of files."""
    known: set[str] = set()
    for path in files:
        known.update(_names(path))
    return [(line, name) for line, name in listed_files(samples) if name not in known]


def check(samples: str, files: Sequence[str]) -> None:
    """Raises SampleListError naming every entry outside files."""
    missing = unmatched(samples, files)
    if missing:
        where = "\n".join(f"  {samples}:{line}: {name}" for line, name in missing)
        raise SampleListError(
            f"the sample list names {len(missing)} file(s) that are not among the "
            f"inputs (vxrun inputs):\n{where}")
