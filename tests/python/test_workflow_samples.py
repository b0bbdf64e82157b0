"""The workflow's early sample-list check names exactly the entries vxrun's
own matching would reject as outside the inputs (path, file name, or file
name without .mzML/.mzML.gz in any case), in TSV, CSV and ';' lists."""

import importlib.util
from pathlib import Path

import pytest

_SCRIPT = Path(__file__).resolve().parents[2] / "workflow" / "scripts" / "samples.py"
_spec = importlib.util.spec_from_file_location("workflow_samples", _SCRIPT)
samples = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(samples)

FILES = ["/runs/a/std1.mzML", "/runs/b/Blank.MZML.GZ", "/runs/c/qc.cdf"]

CASES = [
    # (list text, lines expected to be named)
    ("file\ttype\nstd1\tstandard\nBlank.MZML.GZ\tblank\n", []),
    ("file\ttype\n/runs/a/std1.mzML\tstandard\nqc.cdf\tqc\nBlank\tblank\n", []),
    ("file\ttype\nstd2\tstandard\n# std3\tstandard\n\n  std1  \tsample\n", [(2, "std2")]),
    ('Path,type\n"std1",sample\n"x,y.mzML",blank\n', [(3, "x,y.mzML")]),
    # Names compare exactly; only the ending is stripped in any case.
    ("filename;type;A\nstd1.mzml;standard;1,5\nqc;qc;2\nBlank;blank;\n",
     [(2, "std1.mzml"), (3, "qc")]),
    ("file\ttype\n/other/std1.mzML\tsample\n", [(2, "/other/std1.mzML")]),
    # No file column: vxrun names that problem at the gather.
    ("name\ttype\nstd9\tsample\n", []),
]


@pytest.mark.parametrize("text,want", CASES)
def test_unmatched_entries(tmp_path, text, want):
    path = tmp_path / "samples.tsv"
    path.write_text(text, encoding="utf-8")
    assert samples.unmatched(str(path), FILES) == want


def test_check_names_every_line(tmp_path):
    path = tmp_path / "s.tsv"
    path.write_text("file\ttype\nstd9\tstandard\nstd1\tsample\nnope\tblank\n")
    with pytest.raises(samples.SampleListError) as e:
        samples.check(str(path), FILES)
    assert f"{path}:2: std9" in str(e.value) and f"{path}:4: nope" in str(e.value)


def test_unreadable_list(tmp_path):
    with pytest.raises(samples.SampleListError):
        samples.check(str(tmp_path / "missing.tsv"), FILES)
