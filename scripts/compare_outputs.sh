#!/usr/bin/env bash
# Runs two builds of vxrun over the same inputs and compares everything they
# write: batch tables, JSON Lines, plots, reports, quantitation outputs,
# measurement parts, merges, chain documents, the standard output and error
# of every run, exit codes and the help texts. Reports differ only in their
# time stamps (start and seconds), which are blanked before comparing.
# Used to show that a rework of the host leaves every output as it was.
#   scripts/compare_outputs.sh OLD/vxrun NEW/vxrun
# The sample files are taken from $VX_SHARED_DIR/data/mzml (default: the
# shared folder beside this tree).
# Each vxrun loads the plugin built beside it. Prints one line per differing
# file and a total; exits 1 when anything differs.
set -euo pipefail
if [[ $# -ne 2 ]]; then
  echo "usage: $0 OLD_VXRUN NEW_VXRUN" >&2
  exit 64
fi
old=$(realpath "$1") new=$(realpath "$2")
root="$(cd "$(dirname "$0")/.." && pwd)"
shared="${VX_SHARED_DIR:-$root/../shared}/data/mzml"
quant="$root/tests/data/quant"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mapfile -t samples < <(find "$shared" -maxdepth 1 -type f \( -name '*.mzML' -o -name '*.mzML.gz' -o -name '*.mzXML' \) | sort)

# run SIDE NAME ARGS...: one vxrun call whose stdout, stderr and exit code
# are kept as files named NAME under SIDE's folder (paths in the output are
# relative to it, so the two sides write the same text).
run() {
  local side=$1 name=$2
  shift 2
  local bin=$old
  [[ $side == new ]] && bin=$new
  (cd "$work/$side" && { "$bin" "$@" > "$name.stdout" 2> "$name.stderr"; echo $? > "$name.code"; } || true)
}

for side in old new; do
  mkdir -p "$work/$side"
  # Help texts of the program and of every command.
  run $side help --help
  for c in chain batch merge list run help; do run $side "help_$c" help $c; done
  run $side version_bad --library /nonexistent.so --version
  # Batch over every sample file with a single target and with the examples' table.
  run $side batch_shared batch "${samples[@]}" --mz 73 --rt 1.5 --rt-tol 10 -j 2 \
    --table b1.tsv --jsonl b1.jsonl --plot plots1 --report r1.html -q
  run $side batch_example batch "$root/examples/sim_basic.mzML" \
    --targets "$root/examples/targets.tsv" -j 1 --table b2.tsv --jsonl b2.jsonl \
    --plot plots2 --report r2.html --no-progress
  run $side batch_stdout batch "$root/examples/sim_basic.mzML" --mz 147 --rt 1.19 -q
  # Quantitation as the end-to-end tests run it, then split into parts and merged.
  run $side batch_quant batch "$quant" --targets "$quant/targets.tsv" \
    --samples "$quant/samples.tsv" --table q_rows.tsv --jsonl q_rows.jsonl \
    --quant q.tsv --quant-jsonl q.jsonl --calibration c.tsv --calibration-jsonl c.jsonl \
    --cal-plots cal --plot qplots --report qr.html --measurements m.jsonl -j 2 -q
  run $side batch_quad batch "$quant" --targets "$quant/targets.tsv" \
    --samples "$quant/samples.tsv" --table q2_rows.tsv --quant q2.tsv \
    --calibration c2.tsv --model quadratic --weighting 1/x2 --through-origin -q
  parts=() meas=()
  for f in "$quant"/*.mzML.gz; do
    n=$(basename "$f" .mzML.gz)
    run $side "part_$n" batch "$f" --targets "$quant/targets.tsv" --table "part_$n.tsv" \
      --measurements "part_$n.jsonl" -q
    parts+=("part_$n.tsv") meas+=("part_$n.jsonl")
  done
  run $side merge merge "${parts[@]}" --targets "$quant/targets.tsv" \
    --samples "$quant/samples.tsv" --measurements "${meas[@]}" --table merged.tsv \
    --jsonl merged.jsonl --quant mq.tsv --calibration mc.tsv --report mr.html \
    --plot qplots
  run $side merge_plain merge "${parts[@]}"
  # Chain: documents of one target and of a targets table, and its summary.
  run $side chain_one chain "$root/examples/sim_basic.mzML" --mz 73 --rt 1.178 \
    --rt-tol 0.1 --out docs1 --plot cplots1 --report cr1.html
  run $side chain_table chain "$root/examples/sim_basic.mzML" \
    --targets "$root/examples/targets.tsv" --out docs2
  for f in "${samples[@]}"; do
    n=$(basename "$f")
    run $side "chain_$n" chain "$f" --mz 73 --rt 1.5 --rt-tol 10 --out "docs_$n"
  done
  # Usage errors and a single step.
  run $side bad_option batch x.mzML --mz 73 --rt 1 --max-iter 0
  run $side bad_targets batch x.mzML --targets /nonexistent.tsv
  run $side step run OperationStepDemo -p sum -n 1 -n 2 -o 1
  run $side list list
  # The report's time stamps and run time change from run to run, and the
  # build folder (program and plugin paths) differs between the two sides.
  bin=$old
  [[ $side == new ]] && bin=$new
  find "$work/$side" -name '*.html' -exec sed -i -E \
    -e 's/[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z/TIME/g' \
    -e 's/[0-9.e+-]+ s<\/td>/S<\/td>/g' {} +
  grep -rlF "$(dirname "$bin")" "$work/$side" | xargs -r sed -i "s|$(dirname "$bin")|BUILD|g"
done

compared=0 differ=0
while IFS= read -r rel; do
  compared=$((compared + 1))
  if [[ ! -f "$work/new/$rel" ]]; then
    echo "MISSING in new: $rel"
    differ=$((differ + 1))
  elif ! cmp -s "$work/old/$rel" "$work/new/$rel"; then
    echo "DIFFER: $rel"
    differ=$((differ + 1))
  fi
done < <(cd "$work/old" && find . -type f | sort)
extra=$(comm -13 <(cd "$work/old" && find . -type f | sort) <(cd "$work/new" && find . -type f | sort) | wc -l)
echo "compared $compared files: $differ differ, $extra only in new"
[[ $differ -eq 0 && $extra -eq 0 ]]
