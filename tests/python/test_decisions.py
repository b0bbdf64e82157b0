"""Peak decisions from Python: the same columns, flags and options as vxrun,
and options that cannot decide anything refused before any file is read."""

import pytest

import vx_steps
from conftest import read_jsonl


# The quantitation sequence: every option changes some row, and the package
# must agree with vxrun row for row under each.
@pytest.mark.parametrize("options,flags", [
    ({}, []),
    ({"min_sn": 50.0, "min_points": 3}, ["--min-sn", "50", "--min-points", "3"]),
    ({"deconvolve": True, "min_sn": 0.0}, ["--deconvolve", "--min-sn", "0"]),
])
def test_decided_rows_equal_vxrun(lib, vxrun, source_dir, tmp_path, options, flags):
    data = source_dir / "tests" / "data" / "quant"
    vxrun("batch", data, "--targets", data / "targets.tsv", "-q", "--table", tmp_path / "t",
          "--jsonl", tmp_path / "r.jsonl", *flags)
    rows = vx_steps.batch_rows(data, data / "targets.tsv", jobs=2, library=lib, **options)
    assert rows == read_jsonl(tmp_path / "r.jsonl")
    blank_b = [r for r in rows if r["file"].endswith("blank.mzML.gz") and r["target"] == "B"]
    if not options:
        # The blank holds no B: a converged fit on noise, judged not detected.
        assert blank_b[0]["fit_status"] == "success"
        assert blank_b[0]["detection"] == "not_detected"
        assert "below_min_sn" in blank_b[0]["flags"]


@pytest.mark.parametrize("options", [
    {"min_sn": -1.0}, {"min_sn": float("nan")}, {"min_points": 0},
    {"min_points": 2.5}, {"min_points": True},
])
def test_bad_options_are_refused(lib, example, options):
    with pytest.raises(ValueError):
        vx_steps.batch_rows(example, [vx_steps.Target(73, 1.178, "P")], library=lib,
                            **options)


def test_frame_has_the_decision_columns(lib, example):
    frame = vx_steps.batch(example, [vx_steps.Target(73, 1.178, "P")], library=lib)
    assert list(frame.columns)[-7:] == ["signal_to_noise", "detection", "integrated_area",
                                        "peak_start", "peak_end", "asymmetry",
                                        "component_area"]
    assert frame["signal_to_noise"].dtype == "float64"
