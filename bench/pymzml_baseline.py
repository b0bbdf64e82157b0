"""The Python mzML reader analysts commonly use (pymzml), reading every
spectrum's m/z and intensity arrays of a file: the baseline that the
ingestion step, which also writes the whole spectra document, is compared
with. Prints the median of RUNS passes and, when VX_BENCH_SUMMARY names a
file, appends a row to bench/run.sh's summary table.

Run with Debian's Python, which sees python3-pymzml:
    /usr/bin/python3 bench/pymzml_baseline.py FILE.mzML [RUNS]
"""
import contextlib
import os
import statistics
import sys
import time
import warnings

import pymzml


def one_pass(path):
    start = time.perf_counter()
    spectra = values = 0
    for spectrum in pymzml.run.Reader(path):
        values += len(spectrum.mz) + len(spectrum.i)
        spectra += 1
    return time.perf_counter() - start, spectra, values


def main():
    path = sys.argv[1]
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    warnings.simplefilter("ignore")
    # pymzml prints its warnings (no index in the file) to standard output.
    with open(os.devnull, "w", encoding="utf-8") as quiet, contextlib.redirect_stdout(quiet):
        passes = [one_pass(path) for _ in range(runs)]
    seconds = statistics.median(p[0] for p in passes)
    mb = os.path.getsize(path) / 1e6
    name = os.path.basename(path)
    print(f"{name}: {passes[0][1]} spectra, {passes[0][2]} values, "
          f"{seconds:.3f} s, {mb / seconds:.1f} MB/s (median of {runs})")
    summary = os.environ.get("VX_BENCH_SUMMARY")
    if summary:
        with open(summary, "a", encoding="utf-8") as out:
            out.write(f"pymzml reading every array, {name}\t{mb / seconds:.0f} MB/s\t"
                      "no document written\t\t\n")


if __name__ == "__main__":
    main()
