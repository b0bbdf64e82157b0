#!/bin/bash
# Makes the small identification sequence under this folder: three standards
# and three samples of compound A (quantifier 73, qualifiers 147 at 35 % and
# 207 at 12.5 %), SIM at 0.5 s per scan, sigma 2 s. The standards and
# sample_ok elute at 1.52 min; sample_shift's peak sits 0.15 min later
# (1.67) and sample_ratio's 147 ion is twice the standards' (70 %). The
# targets table says rt 1.40 and 147 at 60 %: only the standards' means
# identify sample_ok.
# Run: bash tests/data/ident/make_sequence.sh [GENERATOR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
gen=${1:-/work/shared/tools/gen_gcms_mzml.py}

make_file() {  # name amount rt ratio_147 seed
  local name=$1 a=$2 rt=$3 r147=$4 seed=$5
  local h; h=$(echo "2000*$a" | bc -l)
  /usr/bin/python3 "$gen" -o "$here/$name.mzML" --truth /dev/null --mode sim --seed "$seed" \
    --ions 73,147,207 --rt-start 0.9 --rt-end 2.1 --scan-interval 0.5 --compact \
    --peak "73:$rt:2:$h" --peak "147:$rt:2:$(echo "$h*$r147" | bc -l)" \
    --peak "207:$rt:2:$(echo "$h*0.125" | bc -l)" >/dev/null
  gzip -n -9 -f "$here/$name.mzML"
}

make_file std1 5 1.52 0.35 41
make_file std2 10 1.52 0.35 42
make_file std3 20 1.52 0.35 43
make_file sample_ok 8 1.52 0.35 51
make_file sample_shift 8 1.67 0.35 52
make_file sample_ratio 8 1.52 0.70 53

# ladder/alkanes: the n-alkane ladder run on m/z 57: C10 to C14 with drifting spacing and C13
# missing (a gap of two spacings).
/usr/bin/python3 "$gen" -o "$here/ladder/alkanes.mzML" --truth /dev/null --mode sim --seed 61 \
  --ions 57 --rt-start 0.8 --rt-end 2.4 --scan-interval 0.5 --compact \
  --peak 57:0.98:2:30000 --peak 57:1.25:2:32000 --peak 57:1.55:2:31000 \
  --peak 57:2.17:2:29000 >/dev/null
gzip -n -9 -f "$here/ladder/alkanes.mzML"
