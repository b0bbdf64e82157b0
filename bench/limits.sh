#!/bin/sh
# Peak memory and outcome of each step on large and hostile inputs: the
# figures behind the "Limits" notes. Needs a release build with vxrun and
# ingestion_bench (cmake --preset release; cmake --build --preset release)
# and GNU time. Scratch files go to WORK (default build/limits-work); the
# large ones are made from bench/data/fullscan_100mb.* (the ingestion bench
# generates those when missing).
#   bench/limits.sh [BUILD_DIR] [WORK]      BIG_MB=0 skips the 1 GB file and
#                                           the 2 GB document (default 1000)
set -eu
cd "$(dirname "$0")/.."
build="${1:-build/release}"
work="${2:-build/limits-work}"
big_mb="${BIG_MB:-1000}"
vxrun="$build/vxrun"
bench="$build/bench/ingestion_bench"
data=bench/data
mkdir -p "$work"

# Peak resident set of a command in MiB, from GNU time; the command's own
# exit status is printed next to it.
peak() {
  label="$1"
  shift
  set +e
  /usr/bin/time -f '%M %e' -o "$work/time.txt" "$@" >"$work/out.txt" 2>"$work/err.txt"
  rc=$?
  set -e
  read -r kib secs <"$work/time.txt" || { kib=0; secs=0; }
  printf '%-44s exit %-3s peak %8.1f MiB  %7.2f s\n' "$label" "$rc" \
    "$(echo "$kib / 1024" | bc -l)" "$secs"
}

size_mib() { echo "$(stat -c %s "$1") / 1048576" | bc -l; }

# Writes a document of N times the spectra of a spectra JSON document, on
# one line (the entries are joined with commas).
repeat_spectra() {
  src="$1" n="$2" out="$3"
  python3 - "$src" "$n" "$out" <<'EOF'
import sys
src, n, out = sys.argv[1], int(sys.argv[2]), sys.argv[3]
body = open(src, 'rb').read()
head, tail = b'{"spectra":[', b']}'
inner = body[len(head):body.rindex(tail)]
with open(out, 'wb') as f:
    f.write(head)
    for i in range(n):
        if i:
            f.write(b',')
        f.write(inner)
    f.write(tail)
EOF
}

# An mzML file of N times the spectrum list of another one (indices repeat,
# which the reader does not mind).
repeat_mzml() {
  src="$1" n="$2" out="$3"
  python3 - "$src" "$n" "$out" <<'EOF'
import sys
src, n, out = sys.argv[1], int(sys.argv[2]), sys.argv[3]
body = open(src, 'rb').read()
start = body.index(b'<spectrum ')
end = body.rindex(b'</spectrum>') + len(b'</spectrum>')
with open(out, 'wb') as f:
    f.write(body[:start])
    for _ in range(n):
        f.write(body[start:end])
    f.write(body[end:])
EOF
}

echo "== ingestion: peak memory of the step per MB of mzML (fresh process each)"
small="$work/fullscan_10mb.mzML"
[ -f "$small" ] || /work/shared/tools/gen_gcms_mzml.py --mode fullscan --target-mb 10 \
  -o "$small" >/dev/null
files="$small $data/fullscan_100mb.mzML $data/fullscan_100mb.zlib.mzML"
if [ "$big_mb" -gt 0 ]; then
  big="$work/fullscan_1gb.mzML"
  [ -f "$big" ] || repeat_mzml "$data/fullscan_100mb.mzML" $((big_mb / 100)) "$big"
  files="$files $big"
fi
for f in $files; do
  printf '%s: %.1f MiB\n' "$f" "$(size_mib "$f")"
  "$bench" --runs 1 --phase step "$f" | tail -n 1
done

echo "== ingestion through vxrun (host keeps every document it is given)"
for f in $files; do
  peak "vxrun run ingestion $(basename "$f")" "$vxrun" run GcMsMzmlIngestionStep \
    -p "$f" -p "" -o 3 -d "$work/ingest_out"
done

echo "== trace step on one-line spectra documents"
trace() {
  peak "trace $(basename "$1") ($(printf '%.0f' "$(size_mib "$1")") MiB)" \
    "$vxrun" run GcMsSimTraceExtractionStep -p "" -n 0.5 -n 73 -i "$1" -o 2 -d "$work/trace_out"
  head -c 160 "$work/trace_out/output_0.json"
  echo
}
trace "$data/fullscan_100mb.json"
if [ "$big_mb" -gt 0 ]; then
  two="$work/spectra_2gb.json"
  [ -f "$two" ] || repeat_spectra "$data/fullscan_100mb.json" 13 "$two"
  trace "$two"
fi

echo "== nesting and long numbers (100 million bytes each)"
python3 -c "import sys; sys.stdout.write('[' * 100000000)" >"$work/opens.json"
python3 -c "import sys; sys.stdout.write('{\"spectra\":[' + '{' * 100000000)" >"$work/braces.json"
python3 -c "import sys; sys.stdout.write('{\"retention_time\":[' + '9' * 100000000 + '],\"intensity\":[1]}')" \
  >"$work/digits.json"
for f in opens braces digits; do
  peak "trace $f" "$vxrun" run GcMsSimTraceExtractionStep -p "" -n 0.5 -n 73 \
    -i "$work/$f.json" -o 2 -d "$work/trace_out"
  head -c 100 "$work/trace_out/output_0.json"
  echo
  peak "fit $f" "$vxrun" run GcMsTargetedGaussianFitStep -n 100 -n 0.5 -n 1.5 \
    -i "$work/$f.json" -o 2 -d "$work/fit_out"
  head -c 100 "$work/fit_out/output_0.json"
  echo
done

echo "== ingestion past the limits"
python3 - "$work" <<'EOF'
import sys
w = sys.argv[1]
def doc(length):
    return ('<mzML><run><spectrumList count="18446744073709551615"><spectrum index="0">'
            '<binaryDataArrayList><binaryDataArray arrayLength="%s"><cvParam name="m/z array"/>'
            '<cvParam name="64-bit float"/><binary>AAAAAAAA8D8AAAAAAAAEQA==</binary>'
            '</binaryDataArray></binaryDataArrayList></spectrum></spectrumList></run></mzML>' % length)
open(w + '/huge_count.mzML', 'w').write(doc('18446744073709551615'))
open(w + '/bad_count.mzML', 'w').write(doc('99999999999999999999999'))
EOF
for f in huge_count bad_count; do
  peak "ingestion $f" "$vxrun" run GcMsMzmlIngestionStep -p "$work/$f.mzML" -p "" -o 3 \
    -d "$work/ingest_out"
  head -c 220 "$work/ingest_out/output_2.json"
  echo
done

echo "== compressed input that inflates 1000-fold (1 GB of blanks in a ~1 MB gzip file)"
python3 - "$work/bomb.mzML.gz" <<'EOF2'
import sys, zlib
c = zlib.compressobj(9, zlib.DEFLATED, 31)  # gzip framing
chunk = b' ' * (1 << 20)
with open(sys.argv[1], 'wb') as f:
    f.write(c.compress(b'<mzML><run><spectrumList>'))
    for _ in range(1000):
        f.write(c.compress(chunk))
    f.write(c.compress(b'</spectrumList></run></mzML>'))
    f.write(c.flush())
EOF2
printf 'bomb.mzML.gz: %.2f MiB\n' "$(size_mib "$work/bomb.mzML.gz")"
peak "ingestion bomb.mzML.gz" "$vxrun" run GcMsMzmlIngestionStep -p "$work/bomb.mzML.gz" -p "" \
  -o 3 -d "$work/ingest_out"
head -c 200 "$work/ingest_out/output_1.json"
echo
