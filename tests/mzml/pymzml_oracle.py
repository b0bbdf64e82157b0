#!/usr/bin/python3
"""Decoded arrays of the ingestion step against pymzml, bit for bit.

Usage: pymzml_oracle.py VXRUN DATA_DIR [PUBLIC_DIR]

Runs GcMsMzmlIngestionStep through vxrun on each lossless sample file and
compares every spectrum's m/z and intensity arrays (as 64-bit floats) and
scan time with what pymzml decodes from the same file. Exits 77 (skipped)
when pymzml is not installed.
"""
import json
import os
import subprocess
import sys
import tempfile

try:
    import numpy as np
    import pymzml
    from pymzml.spec import Spectrum
except ImportError:
    print("pymzml not installed: skipped")
    sys.exit(77)

# Lossless files pymzml reads. It resolves no referenceableParamGroups and
# decodes no numpress array labelled "32-bit integer", so those variants are
# checked only by the C++ tests.
LOSSLESS = [
    "sim_tiny.mzML", "sim_tiny.zlib.mzML", "sim_tiny.msconvert.mzML", "sim_tiny.mzML.gz",
    "sim_tiny.compact.mzML", "sim_tiny.noarraylength.mzML", "sim_tiny.seconds.mzML",
    "sim_tiny.chromatograms.mzML", "sim_tiny.openms.mzML", "sim_basic.mzML",
    "fullscan_tiny.mzML", "fullscan_tiny.zlib.mzML", "fullscan_tiny.msconvert.mzML",
    "fullscan_tiny.mzML.gz", "fullscan_tiny.mz32.mzML", "fullscan_tiny.openms.mzML",
    "fullscan_basic.mzML", "fullscan_profile_tiny.mzML",
]
PUBLIC = ["FKB-FA-060-RI.cut_8.45-9.20min.mzML", "29_qc_no_dil_milliq_subset.mzML"]


def step_spectra(vxrun, path):
    with tempfile.TemporaryDirectory() as out:
        subprocess.run([vxrun, "run", "GcMsMzmlIngestionStep", "-p", path, "-p", "", "-o", "3",
                        "-d", out], check=True, stdout=subprocess.DEVNULL)
        with open(os.path.join(out, "output_2.json"), encoding="latin-1") as f:
            return json.load(f)["spectra"]


def bits(values):
    return np.asarray(values, dtype=np.float64).view(np.uint64)


def compare(vxrun, path):
    ours = step_spectra(vxrun, path)
    theirs = [s for s in pymzml.run.Reader(path) if isinstance(s, Spectrum)]
    problems = []
    if len(ours) != len(theirs):
        return [f"{len(ours)} spectra, pymzml {len(theirs)}"]
    for k, (a, b) in enumerate(zip(ours, theirs)):
        for key, want in (("mz_array", b.mz), ("intensity_array", b.i)):
            if not np.array_equal(bits(a[key]), bits(want)):
                problems.append(f"spectrum {k}: {key} differs")
        minutes = a["scan_start_time"] / (60.0 if a["scan_start_time_unit"] == "second" else 1.0)
        if abs(minutes - b.scan_time_in_minutes()) > 1e-9:
            problems.append(f"spectrum {k}: time {minutes} vs {b.scan_time_in_minutes()}")
    return problems


def main():
    vxrun, data = sys.argv[1], sys.argv[2]
    files = [os.path.join(data, f) for f in LOSSLESS]
    if len(sys.argv) > 3 and os.path.isdir(sys.argv[3]):
        files += [os.path.join(sys.argv[3], f) for f in PUBLIC
                  if os.path.exists(os.path.join(sys.argv[3], f))]
    failed = 0
    for path in files:
        problems = compare(vxrun, path)
        print(("FAIL " if problems else "ok   ") + os.path.basename(path))
        for p in problems[:5]:
            print("     " + p)
        failed += bool(problems)
    print(f"{len(files) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
