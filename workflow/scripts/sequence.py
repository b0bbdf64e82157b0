"""How the workflow splits a sequence into jobs and names what they write.

Shared by the Snakefile and the gather scripts. The file list itself comes
from `vxrun inputs`, so the expansion of folders and glob patterns exists
only in vxrun; what is here only groups and names the files it prints.
"""

from __future__ import annotations

import hashlib
import os
import subprocess
from typing import Sequence

# vxrun's usage error: here, a vxrun older than its `inputs` command.
EXIT_USAGE = 64


class SequenceError(Exception):
    """The file list cannot be had from vxrun."""


def list_inputs(vxrun: str, inputs: Sequence[str]) -> list[str]:
    """The files `vxrun batch` reads for these inputs, in its order (sorted
    by path, no duplicates; an empty folder or an unmatched pattern as given)."""
    try:
        done = subprocess.run([vxrun, "inputs", "--", *inputs], capture_output=True,
                              check=False)
    except OSError as e:
        raise SequenceError(f"cannot run {vxrun}: {e}") from e
    message = os.fsdecode(done.stderr).strip()
    if done.returncode == EXIT_USAGE and "unknown command" in message:
        raise SequenceError(f"{vxrun} has no 'inputs' command: this workflow needs a "
                            "newer vxrun")
    if done.returncode != 0:
        raise SequenceError(f"vxrun inputs exited {done.returncode}: {message}")
    return [os.fsdecode(line) for line in done.stdout.split(b"\n") if line]


def safe_name(name: str) -> str:
    """A file name made of name, as vxrun makes plot names: characters
    outside [A-Za-z0-9._-] become '_', a leading '.' gets a '_' in front."""
    out = "".join(c if c.isascii() and (c.isalnum() or c in "._-") else "_" for c in name)
    return "_" + out if not out or out.startswith(".") else out


def _digest(text: str) -> str:
    return hashlib.sha1(os.fsencode(text)).hexdigest()


def make_chunks(files: Sequence[str], per_job: int) -> dict[str, list[str]]:
    """Splits the sorted files into jobs of about per_job files. A job ends
    after a file whose path digest is 0 modulo per_job (or at 4 x per_job
    files), so the split depends on the paths themselves: a new file changes
    only the job it falls into, and the other jobs keep their parts. A job is
    keyed by its first file's name and a digest of all its paths."""
    chunks: dict[str, list[str]] = {}
    current: list[str] = []
    for i, path in enumerate(files):
        current.append(path)
        last = i + 1 == len(files)
        if last or int(_digest(path)[:8], 16) % per_job == 0 or len(current) >= 4 * per_job:
            first = safe_name(os.path.basename(current[0]))[:80]
            chunks["%s-%s" % (first, _digest("\n".join(current))[:12])] = current
            current = []
    return chunks


def plot_stems(files: Sequence[str]) -> dict[str, str]:
    """The plot name stem vxrun batch gives each file: its safe name, then
    "-2", "-3"... for files that share a name, counted in the given order."""
    seen: dict[str, int] = {}
    stems: dict[str, str] = {}
    for path in files:
        stem = safe_name(os.path.basename(path))
        seen[stem] = seen.get(stem, 0) + 1
        stems[path] = stem if seen[stem] == 1 else "%s-%d" % (stem, seen[stem])
    return stems


def text_size(path: str) -> int:
    """Bytes of mzML text the ingestion holds: the file, or for gzip the
    inflated size from the trailer (the larger of the two)."""
    try:
        size = os.path.getsize(path)
        with open(path, "rb") as f:
            if f.read(2) != b"\x1f\x8b" or size < 18:
                return size
            f.seek(-4, os.SEEK_END)
            return max(size, int.from_bytes(f.read(4), "little"))
    except OSError:
        return 0
