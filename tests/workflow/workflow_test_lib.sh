# Shared by the workflow tests (sourced; needs $src and $vxrun): the input
# set, the configuration and the comparison with one `vxrun batch -j 1`.

step() { echo "== $*"; }

# fail MESSAGE [LOG]: prints the message and the end of the log, then stops.
fail() {
  echo "FAIL: $1" >&2
  if [ -n "${2:-}" ] && [ -e "$2" ]; then tail -n 40 "$2" >&2; fi
  exit 1
}

# make_inputs DIR: a fresh folder with generated SIM files (plain and gzip),
# a copy of the example in a second folder reached by a glob, a text file
# named like mzML, an empty folder, and a targets table. A missing file is
# named in the configuration only.
make_inputs() {
  local dir=$1 gen="${VX_SHARED_DIR:-$src/../shared}/tools/gen_gcms_mzml.py"
  [ -x "$gen" ] || fail "the generator $gen is not there"
  rm -rf "$dir"
  mkdir -p "$dir/data" "$dir/more" "$dir/empty"
  local seed
  for seed in 1 2; do
    "$gen" --mode sim --seed "$seed" --rt-start 1.0 --rt-end 1.7 --scan-interval 0.2 \
      --peak 73:1.20:1.5:30000 --peak 147:1.30:1.8:50000 \
      -o "$dir/data/s$seed.mzML" > /dev/null || fail "the generator failed"
  done
  mv "$dir/data/s1.mzML" "$dir/data/a.mzML"
  mv "$dir/data/s2.mzML" "$dir/data/b.mzML"
  gzip -c "$dir/data/a.mzML" > "$dir/data/c.mzML.gz"
  rm -f "$dir"/data/*.truth.json
  echo "this is not mzML" > "$dir/data/notes.mzML"
  cp "$src/examples/sim_basic.mzML" "$dir/more/a.mzML"
  printf 'name\tmz\trt\trt_tol\nT73\t73\t1.2\t0.1\nT147\t147\t1.3\t0.1\n' > "$dir/targets.tsv"
}

# write_config FILE OUT [TARGETS]
write_config() {
  cat > "$1" <<EOF
inputs: [data, "more/*.mzML", missing.mzML, empty]
targets: ${3:-targets.tsv}
out: $2
vxrun: $vxrun
plots: true
EOF
}

# compare_with_batch OUT: the workflow's results equal one batch, byte for byte.
compare_with_batch() {
  local out=$1 code=0
  rm -rf ref && mkdir ref
  "$vxrun" batch data "more/*.mzML" missing.mzML empty --targets targets.tsv -j 1 -q \
    --table ref/results.tsv --jsonl ref/results.jsonl --plot ref/plots || code=$?
  [ "$code" = 1 ] || fail "vxrun batch exited $code, not 1 (some files cannot be processed)"
  cmp ref/results.tsv "$out/results.tsv" || fail "results.tsv differs from vxrun batch"
  cmp ref/results.jsonl "$out/results.jsonl" || fail "results.jsonl differs from vxrun batch"
  diff -r -x .snakemake_timestamp ref/plots "$out/plots" > /dev/null ||
    fail "the plots differ from vxrun batch --plot"
  [ "$(wc -l < "$out/results.tsv")" -gt 10 ] || fail "too few rows in results.tsv"
}

# part_times OUT: "mtime path" of every part table, sorted by path.
part_times() {
  local f
  for f in "$1"/parts/*.tsv; do echo "$(stat -c %y "$f") $f"; done | sort -k2
}
