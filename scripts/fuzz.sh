#!/bin/sh
# Builds the libFuzzer targets with clang and runs each one from its corpus
# for SECONDS (default 30). New findings land in fuzz/findings/<module>/;
# move a fixed one into fuzz/corpus/<module>/ so the test run replays it.
set -eu
cd "$(dirname "$0")/.."
seconds="${1:-30}"
sh scripts/install-deps.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
for bin in build/fuzz/fuzz/*_fuzz; do
  module=$(basename "$bin" _fuzz)
  mkdir -p "fuzz/corpus/$module" "fuzz/findings/$module" "build/fuzz/work/$module"
  echo "== $module ($seconds s)"
  "$bin" -max_total_time="$seconds" -rss_limit_mb=4096 -max_len=1048576 \
    -artifact_prefix="fuzz/findings/$module/" -print_final_stats=1 \
    "build/fuzz/work/$module" "fuzz/corpus/$module" 2>&1 | tail -12
done
