#!/bin/sh
# Builds and runs the whole test suite: the debug build, then the same suite
# under AddressSanitizer + UndefinedBehaviorSanitizer.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
for preset in dev asan-ubsan; do
  cmake --preset "$preset" -DVX_WERROR=ON >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
