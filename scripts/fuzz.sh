#!/bin/sh
# Builds the libFuzzer targets with clang and runs each one from its corpus
# for SECONDS (default 30). New findings land in fuzz/findings/<module>/;
# move a fixed one into fuzz/corpus/<module>/ so the test run replays it.
set -eu
cd "$(dirname "$0")/.."
seconds="${1:-30}"
sh scripts/install-deps.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target fuzz_all
failed=""
for bin in build/fuzz/fuzz/*_fuzz; do
  module=$(basename "$bin" _fuzz)
  mkdir -p "fuzz/corpus/$module" "fuzz/findings/$module" "build/fuzz/work/$module"
  # Whole documents for the reader and the steps; short texts elsewhere.
  case "$module" in
    mzml_reader | trace_step | fit_step) max_len=1048576 ;;
    binary_array) max_len=262144 ;;
    number_reader) max_len=4096 ;;
    gaussian_solver) max_len=16384 ;;
    *) max_len=65536 ;;
  esac
  echo "== $module ($seconds s)"
  log="build/fuzz/work/$module.log"
  # A finding (crash, leak, timeout, out of memory) fails the script.
  if ! "$bin" -max_total_time="$seconds" -rss_limit_mb=4096 -max_len="$max_len" \
    -artifact_prefix="fuzz/findings/$module/" -print_final_stats=1 \
    "build/fuzz/work/$module" "fuzz/corpus/$module" >"$log" 2>&1; then
    failed="$failed $module"
  fi
  tail -12 "$log"
done
if [ -n "$failed" ]; then
  echo "findings in:$failed (see fuzz/findings/)"
  exit 1
fi
