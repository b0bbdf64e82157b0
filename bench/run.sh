#!/bin/sh
# All benchmarks in one command: builds the release preset, generates the
# benchmark files into bench/data/ when missing, and prints each benchmark's
# table, every figure next to its baseline measured in the same run:
#   numbers    %.17g formatting and strtod-compatible parsing (ns/value) vs
#              snprintf, to_chars, strtod, from_chars
#   ingestion  MB/s and peak memory, plain and zlib mzML, vs reading the file
#              and base64-decoding its arrays
#   trace      MB/s of spectra document vs strtod and from_chars loops
#   fit        microseconds per fit and ns per point-pass
#   chain      files/s and MB/s through vxrun's batch runner, -j 1 and -j 2,
#              1 and 20 targets
# Run it on an otherwise idle machine: the chain figures say how much of a
# second core the process actually got.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release >/dev/null
bin=build/release/bench
for b in number ingestion trace fit chain; do
  echo
  echo "=================== $b ==================="
  "$bin/${b}_bench"
done
