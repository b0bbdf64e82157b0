#!/bin/bash
# Makes the small quantitation sequence under this folder: six standards, three
# samples and a blank, SIM at 0.5 s per scan. Compound A (quantifier 73,
# qualifiers 147 at 35 % and 207 at 12.5 %) and compound B (117; 131 at 50 %,
# 145 at 20 %) elute at 1.50 and 1.80 min; the internal standard (152) at
# 1.30 min. Every peak of a file is scaled by that file's injection factor,
# which the internal standard corrects. Heights: A 2000 and B 1500 per unit of
# amount, the internal standard 40000, all with sigma 2 s.
# sample2 has B's 131 ion at 80 % (a wrong ratio); sample3 lies above the top
# level; the blank carries A at 0.5 units.
# Run: bash tests/data/quant/make_sequence.sh [GENERATOR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
gen=${1:-/work/shared/tools/gen_gcms_mzml.py}

make_file() {  # name factor amount_a amount_b ratio_131 seed
  local name=$1 f=$2 a=$3 b=$4 r131=$5 seed=$6
  local peaks=(--peak "152:1.30:2:$(echo "40000*$f" | bc -l)")
  if [ "$a" != 0 ]; then
    local ha; ha=$(echo "2000*$a*$f" | bc -l)
    peaks+=(--peak "73:1.50:2:$ha" --peak "147:1.50:2:$(echo "$ha*0.35" | bc -l)"
            --peak "207:1.50:2:$(echo "$ha*0.125" | bc -l)")
  fi
  if [ "$b" != 0 ]; then
    local hb; hb=$(echo "1500*$b*$f" | bc -l)
    peaks+=(--peak "117:1.80:2:$hb" --peak "131:1.80:2:$(echo "$hb*$r131" | bc -l)"
            --peak "145:1.80:2:$(echo "$hb*0.20" | bc -l)")
  fi
  "$gen" -o "$here/$name.mzML" --truth /dev/null --mode sim --seed "$seed" \
    --ions 73,117,131,145,147,152,207 --rt-start 1.1 --rt-end 2.0 \
    --scan-interval 0.5 --compact "${peaks[@]}" >/dev/null
  gzip -n -9 -f "$here/$name.mzML"
}

make_file std1 1.00 1 1 0.5 11
make_file std2 0.95 2 2 0.5 12
make_file std3 1.05 5 5 0.5 13
make_file std4 0.90 10 10 0.5 14
make_file std5 1.10 20 20 0.5 15
make_file std6 1.02 50 50 0.5 16
make_file sample1 0.97 7 12 0.5 21
make_file sample2 1.04 15 30 0.8 22
make_file sample3 0.93 80 70 0.5 23
make_file blank 1.00 0.5 0 0.5 31
