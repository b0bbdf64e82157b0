#!/bin/bash
# Makes neighbour.mzML.gz, a SIM run for the report's peak view: compound N
# (quantifier 73, qualifier 147 at 40 %) at 1.50 min, sigma 2 s, and a second
# peak on 73 alone at 1.66 min, outside the fit window of 1.40-1.60 min
# (targets.tsv: rt_tol 0.1) but within five widths of it, where the view
# must show it.
# Run: bash tests/data/report/make_neighbour.sh [GENERATOR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
gen=${1:-/work/shared/tools/gen_gcms_mzml.py}
/usr/bin/python3 "$gen" -o "$here/neighbour.mzML" --truth /dev/null --mode sim --seed 5 \
  --ions 73,147 --rt-start 1.1 --rt-end 2.0 --scan-interval 0.5 --compact \
  --peak 73:1.50:2:20000 --peak 147:1.50:2:8000 --peak 73:1.66:2:14000 >/dev/null
gzip -n -9 -f "$here/neighbour.mzML"
