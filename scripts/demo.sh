#!/bin/sh
# The main job in one command: builds the release preset, runs the GC-MS chain
# (mzML ingestion -> selected-ion trace -> Gaussian fit) through vxrun on the
# bundled example file for every target of examples/targets.tsv, prints the
# results rounded for reading and writes one SVG plot per target to out/plots/.
#   out/results.tsv    the full table (one row per file and target, every digit)
#   out/results.jsonl  the same rows as JSON Lines
#   out/report.html    the HTML report: open it in a browser
# BUILD_DIR overrides the build folder (default build/release). Only the build
# packages are installed and only vxrun and the library are built: the test
# suite's stack is scripts/test.sh's business.
set -eu
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build/release}"
sh scripts/install-deps.sh
cmake --preset release -B "$build" -DVX_BUILD_TESTS=OFF -DVX_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target vxrun -j 2 >/dev/null
mkdir -p out
status=0
"$build/vxrun" batch examples/sim_basic.mzML --targets examples/targets.tsv \
  --table out/results.tsv --jsonl out/results.jsonl --plot out/plots --report out/report.html \
  -j 2 --no-progress ||
  status=$?
# A readable view: retention time to 4 decimals, heights and areas to 6
# significant digits, r² to 5 decimals (the table keeps every digit). awk
# runs in the C locale so that a decimal-comma locale does not change it.
tab="$(printf '\t')"
LC_ALL=C awk -F "$tab" -v OFS="$tab" '
  function sig(v) { return v == "" ? "-" : sprintf("%.6g", v) }
  function fix(v, d) { return v == "" ? "-" : sprintf("%." d "f", v) }
  function c(name) { return $(col[name]) }
  NR == 1 { for (i = 1; i <= NF; i++) col[$i] = i
            print "target", "mz", "status", "fit_status", "retention_time", "height",
                  "width", "area", "baseline", "r_squared", "iterations"; next }
  { print c("target"), c("mz"), c("status"), c("fit_status"), fix(c("retention_time"), 4),
          sig(c("height")), sig(c("width")), sig(c("area")), sig(c("baseline")),
          fix(c("r_squared"), 5), (c("iterations") == "" ? "-" : c("iterations")) }' out/results.tsv > out/results_view.tsv
if command -v column >/dev/null 2>&1; then
  column -t -s "$tab" out/results_view.tsv
else
  cat out/results_view.tsv
fi
rm -f out/results_view.tsv
echo
echo "full table: out/results.tsv (and out/results.jsonl); plots: out/plots/"
echo "report: $(pwd)/out/report.html"
ls out/plots
exit "$status"
