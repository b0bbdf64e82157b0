#!/bin/bash
# Makes the small full-scan run under this folder (two compounds, EI-like
# spectra with chemical noise, 0.5 s per scan) and library.msp, whose entries
# A and B are the generator's true spectra of its compounds C001 (1.235 min,
# base peak 131) and C002 (1.564 min, base peak 215).
# Run: bash tests/data/library/make_library.sh [GENERATOR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
gen=${1:-/work/shared/tools/gen_gcms_mzml.py}
truth=$(mktemp)
/usr/bin/python3 "$gen" -o "$here/fullscan.mzML" --truth "$truth" --mode fullscan --seed 7 \
  --rt-start 1.0 --rt-end 1.8 --scan-interval 0.5 --compounds 2 --noise-peaks 60 \
  --mz-max 300 --compact >/dev/null
gzip -n -9 -f "$here/fullscan.mzML"
/usr/bin/python3 - "$truth" >"$here/library.msp" <<'PY'
import json, sys
compounds = json.load(open(sys.argv[1]))["compounds"]
for name, c in zip(["A", "B"], compounds):
    ions = sorted((i["nominal"], i["rel_intensity"] * 9.99) for i in c["ions"])
    print(f"Name: {name}\nComments: generator compound {c['id']}\nNum Peaks: {len(ions)}")
    for mz, v in ions:
        print(f"{mz} {v:.0f}")
    print()
PY
rm -f "$truth"
