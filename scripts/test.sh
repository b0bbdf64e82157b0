#!/bin/sh
# Builds and runs the whole test suite: the debug build, the same suite under
# AddressSanitizer + UndefinedBehaviorSanitizer, and the concurrency tests
# under ThreadSanitizer. Ends with one line that adds up all three runs.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh --test
log=$(mktemp)
trap 'rm -f "$log"' EXIT
run_ctest() {
  # Fails unless ctest's own summary says nothing failed; the summary line
  # is kept for the total.
  one=$(mktemp)
  ctest "$@" > "$one" 2>&1 || true
  cat "$one"
  grep "tests passed, [0-9]* tests failed out of" "$one" >> "$log" || true
  if grep -q "tests passed, 0 tests failed out of" "$one"; then
    rm -f "$one"
    return 0
  fi
  rm -f "$one"
  return 1
}
for preset in dev asan-ubsan; do
  cmake --preset "$preset" -DVX_WERROR=ON >/dev/null
  cmake --build --preset "$preset"
  run_ctest --preset "$preset"
done
cmake --preset tsan -DVX_WERROR=ON >/dev/null
cmake --build --preset tsan --target system_test host_test
# Steps from many threads at once, and the host's own thread pool and batches.
run_ctest --preset tsan -R '^(Concurrency|ThreadPool|BatchRunner|HostSession)\.'
# "N% tests passed, F tests failed out of T" from each run, added up.
awk '/tests passed, [0-9]+ tests failed out of/ {
       failed += $4; total += $NF
     }
     END { printf "total: %d passed, %d failed\n", total - failed, failed }' "$log"
