#!/bin/sh
# Builds and runs the whole test suite: the debug build, the same suite under
# AddressSanitizer + UndefinedBehaviorSanitizer, and the concurrency tests
# under ThreadSanitizer.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
for preset in dev asan-ubsan; do
  cmake --preset "$preset" -DVX_WERROR=ON >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
cmake --preset tsan -DVX_WERROR=ON >/dev/null
cmake --build --preset tsan --target system_test
ctest --preset tsan -R '^Concurrency\.'
