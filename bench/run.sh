#!/bin/sh
# All benchmarks in one command: builds the release preset, generates the
# benchmark files into bench/data/ when missing, prints each benchmark's own
# table, then one summary table: every figure next to its baseline measured
# in the same run and the target it is held to.
#   number     %.17g formatting and strtod-compatible parsing (ns/value) vs
#              snprintf, to_chars, strtod, from_chars
#   ingestion  MB/s and peak memory, plain and zlib mzML, vs reading the file,
#              base64-decoding its arrays and formatting its values with
#              to_chars; every value checked against snprintf's %.17g
#   trace      MB/s of spectra document vs strtod and from_chars over the
#              same numbers and a plain copy
#   pymzml     the Python mzML reader analysts use, reading every array of
#              the same files (bench/pymzml_baseline.py)
#   fit        microseconds per fit and ns per point-pass
#   chain      whole vxrun processes: small-file batches, and one large file
#              with 1 and 20 targets, -j 1 and -j 2
#   python     the Python package against vxrun on the large file
#              (bench/python_host_bench.py)
#   openms     vxrun chain against OpenMS 2.6 loading the same file and
#              tracing one target (bench/openms_probe, built only where
#              libopenms-dev is installed), interleaved; the chain's peak
#              memory against file + document; a 10-file batch per file
# Run it on an otherwise idle machine: the chain benchmark says how much of a
# second core the process actually got.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release >/dev/null
bin=build/release/bench
summary=$(mktemp)
trap 'rm -f "$summary"' EXIT
export VX_BENCH_SUMMARY="$summary"
for b in number ingestion trace fit chain openms; do
  echo
  echo "=================== $b ==================="
  "$bin/${b}_bench"
  if [ "$b" = ingestion ]; then
    echo
    echo "=================== pymzml (for comparison) ==================="
    for f in bench/data/fullscan_100mb.mzML bench/data/fullscan_100mb.zlib.mzML; do
      /usr/bin/python3 bench/pymzml_baseline.py "$f" 3 2>/dev/null
    done
  fi
done
echo
echo "=================== Python host ==================="
PYTHONDONTWRITEBYTECODE=1 /usr/bin/python3 bench/python_host_bench.py --reps 5
echo
echo "=================== summary ==================="
awk -F '\t' '
  { for (i = 1; i <= NF; ++i) { cell[NR, i] = $i; if (length($i) > w[i]) w[i] = length($i) } }
  END {
    split("what|ours|baseline, same run|target|met", head, "|")
    for (i = 1; i <= 5; ++i) if (length(head[i]) > w[i]) w[i] = length(head[i])
    line = ""
    for (i = 1; i <= 5; ++i) line = line sprintf("%-" w[i] "s  ", head[i])
    print line
    for (r = 1; r <= NR; ++r) {
      line = ""
      for (i = 1; i <= 5; ++i) line = line sprintf("%-" w[i] "s  ", cell[r, i])
      print line
    }
  }' "$summary"
