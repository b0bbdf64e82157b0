#!/bin/bash
# The Snakemake workflow on all local cores, against one `vxrun batch -j 1`
# over the same inputs: the tables and the plots must be the same bytes, a
# second run must do nothing, touching one file or adding one must redo only
# that file and the gather, several files per job must give the same bytes,
# a sample list, a report and a review (a rejection, manual integrations)
# must give the bytes of batch --review's results, quant and calibration,
# and an exit code >= 64 must fail the job with vxrun's message in its log.
# usage: local_workflow_test.sh SOURCE_DIR VXRUN SCRATCH_DIR
set -euo pipefail
src=$1 vxrun=$2 work=$3
. "$src/tests/workflow/workflow_test_lib.sh"

make_inputs "$work"
cd "$work"
write_config cfg.yaml out
run_snakemake() { snakemake -s "$src/workflow/Snakefile" --cores 2 --configfile cfg.yaml "$@"; }

step "first run"
run_snakemake > first.log 2>&1 || fail "snakemake failed" first.log
compare_with_batch out

step "second run does nothing"
before=$(part_times out)
run_snakemake > second.log 2>&1 || fail "snakemake failed" second.log
grep -q "Nothing to be done" second.log || fail "the second run did something" second.log
[ "$(part_times out)" = "$before" ] || fail "parts were rewritten by a run with nothing to do"

step "touching one file redoes that file and the gather"
sleep 1
touch data/b.mzML
run_snakemake > touch.log 2>&1 || fail "snakemake failed" touch.log
redone=$(diff <(echo "$before") <(part_times out) | grep '^>' || true)
[ "$(echo "$redone" | wc -l)" = 1 ] || fail "more than one part was redone: $redone" touch.log
case $redone in *"/b.mzML-"*) ;; *) fail "the touched file's part was not redone" touch.log ;; esac
grep -q "rule merge" touch.log || fail "the gather did not run again" touch.log
compare_with_batch out

step "a new file in an input folder is the only new job"
before=$(part_times out)
cp data/b.mzML data/d.mzML
run_snakemake > add.log 2>&1 || fail "snakemake failed" add.log
[ "$(grep -c 'rule part:' add.log)" = 1 ] || fail "more than the new file was redone" add.log
[ "$(part_times out | grep -v '/d\.mzML-')" = "$before" ] || fail "old parts were redone"
compare_with_batch out

step "after an interruption only the missing part and the gather run"
# What a run stopped before its gather leaves: some parts, no results.
victim=$(ls out/parts/*.tsv | head -n 1)
rm -r "$victim" "${victim%.tsv}.plots" out/results.tsv out/results.jsonl out/plots
run_snakemake > resume.log 2>&1 || fail "snakemake failed" resume.log
[ "$(grep -c 'rule part:' resume.log)" = 1 ] || fail "more than the lost part was redone" resume.log
compare_with_batch out

step "several files per job give the same bytes (plot names counted across jobs)"
write_config many.yaml out_many
echo "files_per_job: 3" >> many.yaml
snakemake -s "$src/workflow/Snakefile" --cores 2 --configfile many.yaml > many.log 2>&1 ||
  fail "snakemake failed" many.log
[ "$(ls out_many/parts/*.tsv | wc -l)" -lt "$(ls out/parts/*.tsv | wc -l)" ] ||
  fail "files_per_job did not put several files in one job"
compare_with_batch out_many

step "samples, report and review: the gather quantitates as one batch does"
# The committed quant sequence: six standards, three samples and a blank,
# targets with qualifier ions and an internal standard. The review rejects a
# peak and integrates two by hand (by file name and by whole path), so the
# file jobs of those files must take their areas from the traces and the
# gather must apply the rest.
quant="$src/tests/data/quant"
printf 'file\ttarget\taction\tstart_rt\tend_rt\treason\treviewer\ttime\n' > review.tsv
printf 'sample1.mzML.gz\tA\treject\t\t\tshoulder\tana\t\n' >> review.tsv
printf 'sample2.mzML.gz\tB\tintegrate\t1.74\t1.86\ttailing\tana\t\n' >> review.tsv
printf '%s\tB\tintegrate\t1.7\t1.9\tby hand\tana\t\n' "$quant/blank.mzML.gz" >> review.tsv
cat > quant.yaml <<EOF
inputs: [$quant]
targets: $quant/targets.tsv
samples: $quant/samples.tsv
review: review.tsv
quant_options: [--weighting, 1/x2]
out: out_quant
vxrun: $vxrun
plots: true
report: true
files_per_job: 3
EOF
run_quant() { snakemake -s "$src/workflow/Snakefile" --cores 2 --configfile quant.yaml "$@"; }
run_quant > quant.log 2>&1 || fail "snakemake failed" quant.log
rm -rf qref && mkdir qref
"$vxrun" batch "$quant" --targets "$quant/targets.tsv" -j 1 -q --table qref/results.tsv \
  --samples "$quant/samples.tsv" --review review.tsv --weighting 1/x2 --quant qref/quant.tsv \
  --quant-jsonl qref/quant.jsonl --calibration qref/calibration.tsv \
  --calibration-jsonl qref/calibration.jsonl --cal-plots qref/calibration_plots ||
  fail "vxrun batch failed on the quant sequence"
for f in results.tsv quant.tsv quant.jsonl calibration.tsv calibration.jsonl; do
  cmp "qref/$f" "out_quant/$f" || fail "$f differs from vxrun batch --samples"
done
[ "$(cut -f19 out_quant/results.tsv | grep -c '^integrate$')" = 2 ] ||
  fail "the results do not carry the two manual integrations"
[ "$(ls out_quant/reviews | wc -l)" -le 2 ] || fail "a job without an integration got a review"
diff -r -x .snakemake_timestamp qref/calibration_plots out_quant/calibration_plots > /dev/null ||
  fail "the calibration plots differ from vxrun batch --cal-plots"
report=out_quant/report.html
[ -s "$report" ] || fail "no report"
grep -q 'id="vx-data"' "$report" || fail "the report has no data block"
grep -qF '"plots":["plots/blank.mzML.gz__ISTD.svg"' "$report" ||
  fail "the report does not link the gathered plots"
grep -q "not loaded" "$report" || fail "the report does not say the library was not loaded"
run_quant > quant2.log 2>&1 || fail "snakemake failed" quant2.log
grep -q "Nothing to be done" quant2.log || fail "the second quant run did something" quant2.log

step "a sample list naming files outside the inputs fails before any file job"
# The list is read only by the gather; the workflow compares it with the
# inputs when it plans the jobs, so the mistake costs seconds, not the run.
{ cat "$quant/samples.tsv"; printf 'std9.mzML\tstandard\t20\t20\n# a comment\n/x/y.mzML\tblank\t\t\n'; } > bad_samples.tsv
sed -e 's#^samples: .*#samples: bad_samples.tsv#' -e 's#^out: .*#out: out_bad_samples#' quant.yaml > bad_samples.yaml
started=$(date +%s.%N)
if snakemake -s "$src/workflow/Snakefile" --cores 2 --configfile bad_samples.yaml > bad_samples.log 2>&1; then
  fail "a sample list naming unknown files did not fail the workflow" bad_samples.log
fi
echo "failed after $(echo "$(date +%s.%N) - $started" | bc) s"
grep -qF "bad_samples.tsv:12: std9.mzML" bad_samples.log || fail "the message does not name std9.mzML" bad_samples.log
grep -qF "bad_samples.tsv:14: /x/y.mzML" bad_samples.log || fail "the message does not name /x/y.mzML" bad_samples.log
! grep -q "rule part" bad_samples.log || fail "a file job ran" bad_samples.log
[ ! -e out_bad_samples/parts ] || fail "a part was written" bad_samples.log

step "a damaged measurement part fails the gather, naming it"
victim=$(ls out_quant/parts/*.measurements.jsonl | head -n 1)
head -c 50 "$victim" > damaged && cat damaged > "$victim"
if run_quant --forcerun merge > damaged.log 2>&1; then
  fail "a damaged measurement part did not fail the workflow" damaged.log
fi
grep -qF "$victim: the last line is incomplete" out_quant/logs/merge.log ||
  fail "the gather's log does not name the damaged part" damaged.log

step "exit codes from 64 fail the job, with vxrun's message in its log"
printf 'name\tmz\trt\nbad\tseventy-three\t1.2\n' > bad_targets.tsv
write_config bad.yaml out_bad bad_targets.tsv
if snakemake -s "$src/workflow/Snakefile" --cores 2 --configfile bad.yaml > bad.log 2>&1; then
  fail "a malformed targets table did not fail the workflow" bad.log
fi
grep -q "bad_targets.tsv:2: .* is not a number" out_bad/logs/*.log || fail "the job's log lacks vxrun's message" bad.log
[ ! -e out_bad/results.tsv ] || fail "a results table was written after a failed job"

echo "PASS"
