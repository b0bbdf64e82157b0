"""netCDF (ANDI-MS) inputs through libvx_formats.so, the reader vxrun uses:
the rows of a .cdf copy equal those of its mzML; damaged and empty inputs
get named statuses and no numbers (NaN), never 0."""

import math

import pytest

import vx_steps


def _rows(lib, path, mz, rt):
    return vx_steps.batch([str(path)], [(mz, rt)], library=lib)


def test_vendor_netcdf_matches_its_converted_mzml(lib, shared_dir, tmp_path, vxrun):
    advion = shared_dir / "data" / "andi" / "public" / "advion-gcms.cdf"
    mzml = tmp_path / "advion.mzML"
    assert vxrun("convert", advion, "-o", mzml).returncode == 0
    a = _rows(lib, advion, 57, 0.3)
    b = _rows(lib, mzml, 57, 0.3)
    assert list(a["status"]) == ["ok"] and list(a["spectra"]) == [41]
    for col in ("trace_points", "max_intensity", "fit_status", "retention_time", "height",
                "area", "r_squared"):
        x, y = a[col].iloc[0], b[col].iloc[0]
        assert (x == y) or (isinstance(x, float) and math.isnan(x) and math.isnan(y)), col


@pytest.mark.parametrize("name,data,status", [
    ("empty.cdf", b"", "empty_file"),
    ("empty.mzML", b"", "empty_file"),
    ("text.cdf", b"name,mz,rt\n", "unsupported_encoding"),
    ("missing.cdf", None, "file_not_found"),
])
def test_bad_inputs_get_named_statuses_and_no_numbers(lib, tmp_path, name, data, status):
    path = tmp_path / name
    if data is not None:
        path.write_bytes(data)
    rows = _rows(lib, path, 57, 3.0)
    assert list(rows["status"]) == [status]
    assert all(math.isnan(rows[c].iloc[0]) for c in ("height", "area", "r_squared"))


def test_chromatography_only_file_is_refused(lib, shared_dir):
    rows = _rows(lib, shared_dir / "data" / "andi" / "public" / "agilent-gcms-tic.cdf", 57, 1)
    assert list(rows["status"]) == ["no_mass_spectra"]
    assert "without mass spectra" in rows["message"].iloc[0]


def test_no_spectra_rows_hold_nan_not_zero(lib, shared_dir):
    rows = _rows(lib, shared_dir / "data" / "mzml" / "fullscan_tiny.mzXML", 57, 3)
    assert list(rows["status"]) == ["no_spectra"]
    assert all(math.isnan(rows[c].iloc[0]) for c in ("height", "area", "r_squared"))
