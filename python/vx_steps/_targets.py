"""Targets: the compounds a batch looks for, from Target objects, dicts,
tuples, a pandas DataFrame, or a targets table file (TSV or CSV) read by the
rules vxrun reads it by: the header decides the delimiter (a tab if it holds
one, else a comma, with double-quoted CSV cells), blank lines and lines
starting with '#' are skipped, a UTF-8 byte-order mark and CRLF line ends
are accepted, column names match without regard to case, and an unknown
column or a bad cell is a DocumentError naming the source and line."""

from __future__ import annotations

import math
import os
import re
from dataclasses import dataclass, field
from typing import Any, Callable, Iterable, Optional, Sequence, Union

from ._documents import check_fit_values, check_trace_values
from .errors import DocumentError

PathArg = Union[str, "os.PathLike[str]"]
DEFAULT_QUALIFIER_TOL = 20.0  # % of the expected area ratio


@dataclass(frozen=True)
class Qualifier:
    """A qualifier ion: its m/z and its expected area in % of the target's."""

    mz: float
    expected_percent: float


@dataclass
class Target:
    """A compound to look for: m/z and retention time (minutes), the m/z
    tolerance (daltons) or an exact match, the fit window's half-width
    (minutes) and the solver's iteration limit. Without a name it is called
    "<mz>@<rt>", as vxrun names its --mz/--rt target. The quantitation
    columns of a targets table are kept (qualifiers, qualifier_tol, istd);
    mz_tol_ppm, when given, sets the m/z tolerance at mz as vxrun does."""

    mz: float
    rt: float
    name: Optional[str] = None
    mz_tol: float = 0.5
    rt_tol: float = 0.3
    exact: bool = False
    max_iter: int = 100
    qualifiers: Sequence[Qualifier] = field(default_factory=tuple)
    qualifier_tol: float = DEFAULT_QUALIFIER_TOL
    mz_tol_ppm: Optional[float] = None
    istd: Optional[str] = None
    # Identification columns, kept as read (vxrun places ri windows with
    # --ladder and matches library_name with --library FILE.msp).
    ri: Optional[float] = None
    ri_tol: Optional[float] = None
    library_name: Optional[str] = None

    def __post_init__(self) -> None:
        self.mz, self.rt = float(self.mz), float(self.rt)
        self.rt_tol = float(self.rt_tol)
        if self.mz_tol_ppm is not None:
            self.mz_tol_ppm = float(self.mz_tol_ppm)
            if not math.isfinite(self.mz_tol_ppm) or self.mz_tol_ppm < 0:
                raise ValueError("mz_tol_ppm must be 0 or more")
            # The same product, in the same order, as vxrun's window.
            self.mz_tol = self.mz * self.mz_tol_ppm * 1e-6
        self.mz_tol = float(self.mz_tol)
        check_trace_values(self.mz, self.mz_tol)
        check_fit_values(self.rt, self.rt_tol, self.max_iter)
        self.max_iter = int(self.max_iter)
        self.exact = _truth(self.exact)
        self.qualifiers = tuple(q if isinstance(q, Qualifier) else Qualifier(*q)
                                for q in self.qualifiers)
        self.qualifier_tol = float(self.qualifier_tol)
        if not math.isfinite(self.qualifier_tol) or self.qualifier_tol <= 0:
            raise ValueError("qualifier_tol must be a positive percentage")
        if self.name is None:
            self.name = shortest_text(self.mz) + "@" + shortest_text(self.rt)
        self.istd = self.istd or None  # an empty cell names no standard
        if self.istd is not None and self.istd == self.name:
            raise ValueError(f"target '{self.name}' is its own istd")


_TRUE = ("true", "yes", "1", "y")
_FALSE = ("false", "no", "0", "n")


def _truth(value: Any) -> bool:
    """exact as a targets table may spell it (true/false, yes/no, 1/0, y/n)."""
    if isinstance(value, str):
        word = value.strip().lower()
        if word in _TRUE:
            return True
        if word in _FALSE:
            return False
        raise ValueError(f"exact must be true or false, not {value!r}")
    return bool(value)


def shortest_text(value: float) -> str:
    """The shortest text that reads back to value, plain or in exponent form
    (at least two exponent digits), whichever is shorter, plain on a tie:
    the form vxrun writes numbers in."""
    if math.isnan(value):
        return "NaN"
    if math.isinf(value):
        return "Infinity" if value > 0 else "-Infinity"
    sign = "-" if math.copysign(1.0, value) < 0 else ""
    mantissa, _, exp = repr(abs(value)).partition("e")
    whole, _, frac = mantissa.partition(".")
    digits = (whole + frac).lstrip("0")
    point = len(whole) + int(exp or 0) - (len(whole + frac) - len((whole + frac).lstrip("0")))
    digits = digits.rstrip("0")
    if not digits:
        return sign + "0"
    if point <= 0:
        plain = "0." + "0" * -point + digits
    elif point >= len(digits):
        plain = digits + "0" * (point - len(digits))
    else:
        plain = digits[:point] + "." + digits[point:]
    e = point - 1
    sci = digits[0] + ("." + digits[1:] if len(digits) > 1 else "") + \
        ("e-" if e < 0 else "e+") + f"{abs(e):02d}"
    return sign + (plain if len(plain) <= len(sci) else sci)


# ---- the targets table ------------------------------------------------------

# Accepted column names (any letter case) and the Target field each fills;
# the first of each field is the documented one.
COLUMN_NAMES = {
    "name": "name", "compound": "name", "mz": "mz", "m/z": "mz",
    "rt": "rt", "retention_time": "rt", "mz_tol": "mz_tol", "mz_tolerance": "mz_tol",
    "rt_tol": "rt_tol", "rt_tolerance": "rt_tol", "exact": "exact",
    "exact_match": "exact", "max_iter": "max_iter", "max_iterations": "max_iter",
    "iterations": "max_iter", "qualifiers": "qualifiers", "qualifier_tol": "qualifier_tol",
    "mz_tol_ppm": "mz_tol_ppm", "istd": "istd", "internal_standard": "istd",
    "ri": "ri", "retention_index": "ri", "ri_tol": "ri_tol", "library_name": "library_name",
}
_EXPECTED = ("expected name, mz, rt, mz_tol, rt_tol, exact, max_iter, qualifiers, "
             "qualifier_tol, mz_tol_ppm, istd, ri, ri_tol, library_name")
_NUMBER = re.compile(r"-?(?:(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eE][+-]?[0-9]+)?"
                     r"|(?i:inf(?:inity)?|nan(?:\([A-Za-z0-9_]*\))?))\Z")
_INTEGER = re.compile(r"-?[0-9]+\Z")
_BLANKS = " \t"


def parse_number(text: str) -> Optional[float]:
    """A cell as vxrun reads a number: the whole text, blanks around it and a
    leading '+' allowed, no digit separators; None when it is not one."""
    text = text.strip(_BLANKS)
    text = text[1:] if text.startswith("+") else text
    return float(text) if _NUMBER.match(text) else None


def parse_integer(text: str) -> Optional[int]:
    text = text.strip(_BLANKS)
    text = text[1:] if text.startswith("+") else text
    value = int(text) if _INTEGER.match(text) else None
    return value if value is not None and -2**63 <= value < 2**63 else None


def split_line(line: str, delimiter: str) -> Optional[list[str]]:
    """The cells of one line, blanks trimmed; with ',' cells may be
    double-quoted ("" inside quotes is a quote). None: an unterminated quote."""
    cells, i = [], 0
    while True:
        j = i
        while j < len(line) and line[j] == " ":
            j += 1
        cell = ""
        if delimiter == "," and j < len(line) and line[j] == '"':
            i = j + 1
            while True:
                if i >= len(line):
                    return None
                if line[i] == '"':
                    if line[i + 1:i + 2] == '"':
                        cell, i = cell + '"', i + 2
                        continue
                    i += 1
                    break
                cell, i = cell + line[i], i + 1
        stop = line.find(delimiter, i)
        # Anything between a closing quote and the delimiter is kept.
        cells.append(cell + line[i:stop if stop >= 0 else len(line)].strip(_BLANKS))
        if stop < 0:
            return cells
        i = stop + 1


def table_lines(text: str) -> Iterable[tuple[int, str]]:
    """(1-based line number, line) of every content line."""
    text = text[1:] if text.startswith("\ufeff") else text
    for number, line in enumerate(text.split("\n"), 1):
        line = line[:-1] if line.endswith("\r") else line
        kept = line.strip(_BLANKS)
        if kept and not kept.startswith("#"):
            yield number, line


def parse_qualifiers(cell: str) -> tuple[Qualifier, ...]:
    """"147:35;207:12.5": qualifier m/z and expected % of the target's area."""
    out = []
    for item in (part.strip(_BLANKS) for part in cell.split(";")):
        if not item:
            continue
        mz_text, colon, pct_text = item.partition(":")
        mz = parse_number(mz_text)
        pct = parse_number(pct_text) if colon else None
        if mz is None or pct is None or not (math.isfinite(mz) and mz > 0
                                             and math.isfinite(pct) and pct > 0):
            raise ValueError(f"qualifier '{item}' is not MZ:PERCENT with a positive m/z "
                             "and a positive percentage")
        out.append(Qualifier(mz, pct))
    return tuple(out)


def _from_text(column: str, cell: str) -> Any:
    """A table cell as the value of its Target field."""
    if column in ("name", "istd", "library_name"):
        return cell
    if column == "exact":
        if cell.lower() in _TRUE + _FALSE:
            return cell.lower() in _TRUE
        raise ValueError(f"'{cell}' is not true/false")
    if column == "max_iter":
        value = parse_integer(cell)
        if value is None:
            raise ValueError(f"'{cell}' is not a whole number")
        return value
    if column == "qualifiers":
        return parse_qualifiers(cell)
    number = parse_number(cell)
    if number is None:
        raise ValueError(f"'{cell}' is not a number")
    return number


def _from_frame(column: str, value: Any) -> Any:
    """A DataFrame cell: text is read as a table cell, anything else is taken
    as the value it is (a float max_iter must be whole)."""
    if isinstance(value, str):
        return _from_text(column, value.strip(_BLANKS))
    if column in ("name", "istd", "library_name"):
        return str(value)
    if column == "max_iter" and not (math.isfinite(float(value))
                                     and float(value) == int(value)):
        raise ValueError(f"'{value}' is not a whole number")
    return int(value) if column == "max_iter" else value


class _Reader:
    """One table or frame: its columns, then one target per row, every error
    as "SOURCE:LINE: what" (all of them, then one DocumentError)."""

    def __init__(self, source: str, separator: str = ":"):
        self.source = source
        self.separator = separator
        self.errors: list[str] = []
        self.targets: list[Target] = []
        self.lines: list[Any] = []
        self.columns: list[str] = []

    def error(self, line: Any, what: str) -> None:
        self.errors.append(f"{self.source}{self.separator}{line}: {what}")

    def header(self, line: Any, names: Sequence[str]) -> bool:
        """False when the rows cannot be read (the errors say why)."""
        seen: set[str] = set()
        for name in names:
            column = COLUMN_NAMES.get(name.lower()) if name.isascii() else None
            if column is None:
                self.error(line, f"unknown column '{name}' ({_EXPECTED})")
                continue
            if column in seen:
                self.error(line, f"column '{name}' given twice")
            seen.add(column)
            self.columns.append(column)
        if "mz" not in seen or not ({"rt", "ri"} & seen):
            self.error(line, "the header needs at least the columns mz and rt (or ri)")
        return not self.errors

    def row(self, line: Any, cells: Sequence[Any], read: Callable[[str, Any], Any]) -> None:
        if len(cells) > len(self.columns):
            return self.error(line, "more cells than header columns")
        values: dict[str, Any] = {}
        try:
            for column, cell in zip(self.columns, cells):
                if not _absent(cell):
                    values[column] = read(column, cell)
        except ValueError as e:
            return self.error(line, str(e))
        if "mz" not in values or ("rt" not in values and "ri" not in values):
            return self.error(line, "mz and rt (or ri) are required")
        for key in ("ri", "ri_tol"):
            if key in values and not (math.isfinite(values[key]) and values[key] >= 0):
                return self.error(line, f"{key} must be a finite number of 0 or more")
        if "rt" not in values:
            return self.error(line, "a target given by ri alone needs a ladder to place its "
                                    "window: run vxrun with --ladder")
        if "mz_tol_ppm" in values and "mz_tol" in values:
            return self.error(line, "give mz_tol (Da) or mz_tol_ppm, not both")
        try:
            target = Target(**values)
        except ValueError as e:
            return self.error(line, str(e))
        if any(t.name == target.name for t in self.targets):
            return self.error(line, f"target name '{target.name}' used twice")
        self.targets.append(target)
        self.lines.append(line)

    def finish(self, last_line: Any) -> list[Target]:
        self._check_internal_standards()
        if not self.targets and not self.errors:
            self.error(last_line, "no targets")
        if self.errors:
            raise DocumentError("\n".join(self.errors))
        return self.targets

    def _check_internal_standards(self) -> None:
        # Every istd names another target, and istd links never loop.
        index = {t.name: i for i, t in enumerate(self.targets)}
        for i, target in enumerate(self.targets):
            if target.istd is None:
                continue
            if target.istd not in index:
                self.error(self.lines[i], f"istd '{target.istd}' is not a target of this table")
                continue
            at = i
            for _ in range(len(self.targets)):
                nxt = index.get(self.targets[at].istd) if self.targets[at].istd else None
                if nxt is None:
                    break
                at = nxt
                if at == i:
                    self.error(self.lines[i],
                               f"istd links of '{target.name}' form a cycle")
                    break


def _absent(cell: Any) -> bool:
    if isinstance(cell, str):
        return cell.strip(_BLANKS) == ""  # table cells are read trimmed
    return cell is None or (isinstance(cell, float) and math.isnan(cell))


def parse_targets(text: str, source: str) -> list[Target]:
    """The targets of a table's text; DocumentError names every bad line."""
    reader = _Reader(source)
    lines = iter(table_lines(text))
    # vxrun counts every line it passed, comments and blank ones included.
    last = text.count("\n") + (0 if text.endswith("\n") or not text else 1)
    for number, line in lines:
        delimiter = "\t" if "\t" in line else ","
        names = split_line(line, delimiter)
        if names is None:
            reader.error(number, "unterminated quote in the header")
        if names is None or not reader.header(number, names):
            raise DocumentError("\n".join(reader.errors))
        for number, line in lines:
            cells = split_line(line, delimiter)
            if cells is None:
                reader.error(number, "unterminated quote")
            else:
                reader.row(number, cells, _from_text)
        return reader.finish(last)
    reader.error(last or 1, "no header row")
    raise DocumentError("\n".join(reader.errors))


def read_targets(path: PathArg) -> list[Target]:
    """The targets table at path; OSError when it cannot be read."""
    with open(path, "rb") as f:
        data = f.read()
    return parse_targets(data.decode("utf-8", "surrogateescape"), os.fsdecode(path))


def frame_targets(frame: Any) -> list[Target]:
    """The targets of a pandas DataFrame whose columns are those of a
    targets table; errors name the row by its index label."""
    reader = _Reader("the targets DataFrame", " ")
    if not reader.header("header", [str(c) for c in frame.columns]):
        raise DocumentError("\n".join(reader.errors))
    for label, row in zip(frame.index, frame.itertuples(index=False, name=None)):
        # A row without any value is what a blank or comment line of a table
        # becomes in pandas: skipped, as the table skips the line.
        if not all(_absent(cell) for cell in row):
            reader.row(f"row {label}", row, _from_frame)
    return reader.finish("end")


TargetLike = Union[Target, dict, Sequence[Any]]


def as_targets(targets: Union[Iterable[TargetLike], PathArg, Any]) -> list[Target]:
    """Targets from a targets table path, a pandas DataFrame with a table's
    columns, or an iterable of Target objects, dicts with Target's field
    names, (mz, rt) or (name, mz, rt) tuples."""
    if isinstance(targets, (str, os.PathLike)):
        out = read_targets(targets)
    elif hasattr(targets, "itertuples") and hasattr(targets, "columns"):
        out = frame_targets(targets)
    else:
        out = [_one_target(t) for t in targets]
    if not out:
        raise ValueError("no targets given")
    names = [t.name for t in out]
    if len(set(names)) != len(names):
        raise ValueError("target names must be unique")
    return out


def _one_target(t: TargetLike) -> Target:
    if isinstance(t, Target):
        return t
    if isinstance(t, dict):
        return Target(**t)
    if len(t) == 3:
        return Target(t[1], t[2], name=str(t[0]))
    return Target(*t)
