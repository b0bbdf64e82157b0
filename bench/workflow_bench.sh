#!/bin/bash
# The workflow engine's cost: 200 small SIM files x 4 targets through
# `snakemake --cores 2` (one file per job, and 20 files per job) against one
# `vxrun batch -j 2`, and a rerun with nothing to do. Runs are interleaved
# (ROUNDS rounds, default 3) so that a busy machine slows every variant alike;
# each figure is the median wall time and the median CPU time of the whole
# process tree (user + system).
# usage: bash bench/workflow_bench.sh [ROUNDS]    (after cmake --build --preset release)
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-3}
root=$PWD
vxrun=$root/build/release/vxrun
[ -x "$vxrun" ] || { echo "build first: cmake --preset release && cmake --build --preset release" >&2; exit 1; }
gen=$root/../shared/tools/gen_gcms_mzml.py
data=$root/bench/data/workflow
n=200

# Eight distinct small SIM files (the chain benchmark's), hard-linked into
# 200 inputs: the same work per file as 200 distinct files.
mkdir -p "$data/seeds" "$data/in"
for seed in 1 2 3 4 5 6 7 8; do
  f=$data/seeds/sim_seed$seed.mzML
  [ -e "$f" ] || "$gen" --mode sim --seed $seed --rt-start 1.0 --rt-end 1.7 --scan-interval 0.2 \
    --peak 73:1.20:1.5:30000 --peak 147:1.30:1.8:50000 \
    --peak 207:1.40:1.2:8000 --peak 281:1.50:2.0:120000 -o "$f" > /dev/null
done
for i in $(seq 0 $((n - 1))); do
  link=$data/in/$(printf 'run%04d.mzML' "$i")
  [ -e "$link" ] || ln "$data/seeds/sim_seed$((i % 8 + 1)).mzML" "$link"
done
printf 'name\tmz\trt\trt_tol\nP73\t73\t1.20\t0.1\nP147\t147\t1.30\t0.1\nP207\t207\t1.40\t0.1\nP281\t281\t1.50\t0.1\n' \
  > "$data/targets.tsv"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
config() { # config NAME FILES_PER_JOB
  printf 'inputs: [%s]\ntargets: %s\nout: %s\nvxrun: %s\nfiles_per_job: %s\n' \
    "$data/in" "$data/targets.tsv" "out_$1" "$vxrun" "$2" > "$1.yaml"
}
config one 1
config twenty 20
# timed NAME COMMAND...: appends "wall cpu" to NAME.times
timed() {
  local name=$1
  shift
  /usr/bin/time -f '%e %U %S' -o t.out "$@" > /dev/null 2>&1 || {
    local code=$?
    [ "$name" = batch ] && [ $code = 1 ] || { echo "$name failed ($code)" >&2; exit 1; }
  }
  awk '{ printf "%s %.2f\n", $1, $2 + $3 }' t.out >> "$name.times"
}
snake=(snakemake -s "$root/workflow/Snakefile" --cores 2 -q --configfile)
for r in $(seq "$rounds"); do
  echo "round $r of $rounds" >&2
  timed batch "$vxrun" batch "$data/in" --targets "$data/targets.tsv" -j 2 -q --table batch.tsv
  rm -rf out_one .snakemake
  timed one "${snake[@]}" one.yaml
  timed noop "${snake[@]}" one.yaml
  rm -rf out_twenty .snakemake
  timed twenty "${snake[@]}" twenty.yaml
  cmp batch.tsv out_one/results.tsv && cmp batch.tsv out_twenty/results.tsv
done

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
wall() { cut -d' ' -f1 "$1.times" | median; }
cpu() { cut -d' ' -f2 "$1.times" | median; }
b_wall=$(wall batch) b_cpu=$(cpu batch)
echo
echo "200 SIM files of 0.40 MB, 4 targets each; medians of $rounds interleaved rounds"
printf '%-44s %9s %9s %10s %14s\n' run "wall s" "CPU s" "x batch" "CPU ms / job"
row() { # row LABEL NAME: CPU per job counts the part jobs and the gather
  local w c jobs=-
  w=$(wall "$2") c=$(cpu "$2")
  [ -d "out_$2" ] && jobs=$(($(ls "out_$2"/parts/*.tsv | wc -l) + 1))
  printf '%-44s %9.2f %9.2f %10.1f %14s\n' "$1" "$w" "$c" \
    "$(awk -v a="$w" -v b="$b_wall" 'BEGIN { print a / b }')" \
    "$([ "$jobs" = - ] && echo - || awk -v c="$c" -v b="$b_cpu" -v j="$jobs" \
      'BEGIN { printf "%.0f (%d jobs)", (c - b) * 1000 / j, j }')"
}
row "vxrun batch -j 2" batch
row "snakemake --cores 2, 1 file per job" one
row "snakemake --cores 2, 20 files per job" twenty
row "snakemake rerun, nothing to do (1 per job)" noop
