#!/bin/sh
# The HTML report at scale: vxrun batch --report on FILES x TARGETS (default
# 500 x 30: hard links to the example file, targets on its peaks), then the
# report in headless Chromium. Prints the batch time, the report's size and
# the medians of three loads: load time, the frame times while scrolling the
# matrix, and the time to open one target's table and plots.
#   bash bench/report_bench.sh [FILES TARGETS]     BUILD_DIR: the vxrun build
set -eu
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build/release}"
cmake --preset release -B "$build" >/dev/null
cmake --build "$build" --target vxrun -j 2 >/dev/null
/usr/bin/python3 tests/host/report/report_browser_test.py --vxrun "$build/vxrun" \
  --example examples/sim_basic.mzML --work "$build/report_bench" --scale "${1:-500}" "${2:-30}"
