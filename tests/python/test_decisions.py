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
    columns = list(frame.columns)
    start = columns.index("signal_to_noise")
    assert columns[start:start + 7] == ["signal_to_noise", "detection", "integrated_area",
                                        "peak_start", "peak_end", "asymmetry",
                                        "component_area"]
    assert frame["signal_to_noise"].dtype == "float64"


def _peak(times, center=1.0, height=1000.0, sigma=0.02, baseline=100.0):
    import math
    return [baseline + height * math.exp(-0.5 * ((t - center) / sigma) ** 2) for t in times]


_TIMES = [0.5 + i * 0.005 for i in range(201)]
_FIT = {"fitted_retention_time": 1.0, "peak_height": 1000.0, "peak_width": 0.02,
        "baseline": 100.0, "fit_window_min": 0.9, "fit_window_max": 1.1}


# Bad traces through the C API: each is a clear decision with its reason,
# never an exception, and no number is NaN (absent values are None).
@pytest.mark.parametrize("name,times,intensities,fit,converged,detection,flag", [
    ("flat trace", _TIMES, [100.0] * 201, dict(_FIT, peak_height=0.0), True, "not_detected",
     "noise_not_measured"),
    ("single point", [1.0], [500.0], _FIT, True, "not_detected", "too_few_points"),
    ("no points", [], [], _FIT, True, "not_detected", "empty_trace"),
    ("NaN intensities", _TIMES, [float("nan") if i % 3 == 0 else v
                                 for i, v in enumerate(_peak(_TIMES))],
     _FIT, True, "detected", "non_finite_points"),
    ("negative baseline", _TIMES, _peak(_TIMES, baseline=-5000.0),
     dict(_FIT, baseline=-5000.0), True, None, None),
    ("peak at the window edge", _TIMES, _peak(_TIMES, center=1.095),
     dict(_FIT, fitted_retention_time=1.095), True, None, "peak_at_window_edge"),
    ("fit not converged", _TIMES, _peak(_TIMES), _FIT, False, "not_detected",
     "fit_not_converged"),
    ("fit values missing", _TIMES, _peak(_TIMES), {}, True, "not_detected",
     "invalid_fit_values"),
])
def test_bad_traces_get_a_clear_decision(lib, name, times, intensities, fit, converged,
                                         detection, flag):
    import math
    d = vx_steps._peaks.peaks_library(lib.path).decide(
        times, intensities, fit, converged, vx_steps.DecisionOptions())
    assert d.detection in (vx_steps.DETECTED, vx_steps.NOT_DETECTED)
    if detection is not None:
        assert d.detection == detection
    if flag is not None:
        assert flag in d.flags
    for v in (d.noise, d.signal_to_noise, d.integrated_area, d.peak_start, d.peak_end,
              d.asymmetry, d.component_area):
        assert v is None or math.isfinite(v)
