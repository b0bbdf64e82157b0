"""batch() identifies as vxrun batch --samples does: the generated sequence
(three standards, a sample that passes, one shifted, one with an off ion
ratio) gives vxrun's identification columns, row for row."""

import pytest

import vx_steps
from conftest import read_jsonl

IDENT_COLUMNS = ("rt_reference", "rt_shift", "reference_ratios", "identified",
                 "identification_flags")


@pytest.mark.parametrize("tolerances,flags", [
    ({}, []),
    ({"rt_id_tol": 0.2, "ratio_tol": 120}, ["--rt-id-tol", "0.2", "--ratio-tol", "120"]),
])
def test_sequence_identified_as_vxrun(lib, vxrun, source_dir, tmp_path, tolerances, flags):
    data = source_dir / "tests" / "data" / "ident"
    out = tmp_path / "rows.jsonl"
    vxrun("batch", data, "--targets", data / "targets.tsv", "--samples",
          data / "samples.tsv", "--jsonl", out, *flags)
    want = read_jsonl(out)
    got = vx_steps.batch_rows(data, data / "targets.tsv", 1, lib,
                              samples=data / "samples.tsv", **tolerances)
    assert [r["file"] for r in got] == [r["file"] for r in want]
    for g, w in zip(got, want):
        for c in IDENT_COLUMNS:
            if isinstance(w[c], float):
                assert g[c] == pytest.approx(w[c], rel=1e-12, abs=1e-12), (g["file"], c)
            else:
                assert g[c] == w[c], (g["file"], c)
    verdicts = {r["file"].rsplit("/", 1)[-1]: (r["identified"], r["identification_flags"])
                for r in got}
    if not tolerances:  # the worked example of the README
        assert verdicts["sample_ok.mzML.gz"] == ("yes", [])
        assert verdicts["sample_shift.mzML.gz"] == ("no", ["rt_shift"])
        assert verdicts["sample_ratio.mzML.gz"] == ("no", ["ion_ratio"])


def test_without_samples_or_tolerances_the_cells_stay_empty(lib, source_dir):
    data = source_dir / "tests" / "data" / "ident"
    rows = vx_steps.batch_rows(data / "sample_ok.mzML.gz", data / "targets.tsv", 1, lib)
    assert [(r["identified"], r["rt_reference"]) for r in rows] == [("", None)]


@pytest.mark.parametrize("kwargs,message", [
    ({"samples": [{"file": "nowhere", "type": "standard", "A": 5}]}, "not among"),
    ({"samples": [{"file": "std1", "type": "calibrant", "A": 5}]}, "type must be"),
    ({"samples": [{"file": "std1", "type": "standard", "A": "five"}]}, "not a number"),
    ({"samples": [{"file": "std1", "type": "standard"},
                  {"file": "std1.mzML.gz", "type": "sample"}]}, "already named"),
    ({"rt_id_tol": -1}, "rt_id_tol"),
    ({"ratio_tol": float("nan")}, "ratio_tol"),
])
def test_bad_identification_arguments_are_refused(lib, source_dir, kwargs, message):
    data = source_dir / "tests" / "data" / "ident"
    with pytest.raises(ValueError, match=message):
        vx_steps.batch_rows(data, data / "targets.tsv", 1, lib, **kwargs)
