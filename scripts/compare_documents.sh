#!/usr/bin/env bash
# Runs the chain with two builds of vxrun on every sample mzML file and
# compares all seven documents byte for byte; exits non-zero on the first
# difference. Used to show that a change to reading or writing leaves every
# document as it was.
#   scripts/compare_documents.sh BEFORE/vxrun AFTER/vxrun [FILE...]
# Without files it takes every mzML, mzML.gz and mzXML file under
# ../shared/data/mzml. Each vxrun loads the plugin built beside it.
set -euo pipefail
if [[ $# -lt 2 ]]; then
  echo "usage: $0 BEFORE_VXRUN AFTER_VXRUN [FILE...]" >&2
  exit 64
fi
before=$1 after=$2
shift 2
files=("$@")
if [[ ${#files[@]} -eq 0 ]]; then
  root="$(cd "$(dirname "$0")/.." && pwd)/../shared/data/mzml"
  mapfile -t files < <(find "$root" -type f \( -name '*.mzML' -o -name '*.mzML.gz' -o -name '*.mzXML' \) | sort)
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
differ=0
for f in "${files[@]}"; do
  for side in before after; do
    rm -rf "$work/$side" && mkdir -p "$work/$side"
    bin=$before
    [[ $side == after ]] && bin=$after
    # The exit code is the file's own outcome (1 for a file without spectra);
    # only the documents are compared.
    "$bin" chain "$f" --mz 73 --rt 1.5 --rt-tol 10 --out "$work/$side" \
      > "$work/$side.stdout" 2>&1 || true
  done
  if diff -r "$work/before" "$work/after" > /dev/null &&
     cmp -s "$work/before.stdout" "$work/after.stdout"; then
    echo "same  $(ls "$work/after" | wc -l) documents  $f"
  else
    echo "DIFFER  $f"
    differ=1
  fi
done
exit $differ
