#!/bin/bash
# Snakemake's cluster status command: prints running, success or failed for
# the job id sbatch --parsable printed ("ID" or "ID;CLUSTER"). Asks sacct when
# SLURM keeps accounting, else scontrol, else squeue.
id=${1%%;*}

state=""
if out=$(sacct -n -X -P -j "$id" -o State 2>/dev/null); then
  state=$(echo "$out" | head -n 1 | cut -d' ' -f1)
fi
if [ -z "$state" ]; then
  out=$(scontrol -o show job "$id" 2>&1)
  code=$?
  if [ $code -eq 0 ]; then
    state=$(echo "$out" | grep -o 'JobState=[A-Z_]*' | head -n 1 | cut -d= -f2)
  elif echo "$out" | grep -qi "invalid job id"; then
    # Finished longer ago than the controller keeps jobs (MinJobAge) and no
    # accounting: snakemake still checks that every output is there.
    echo success
    exit 0
  else
    state=$(squeue -h -j "$id" -o %T 2>/dev/null | head -n 1)
    # The controller cannot be reached: keep waiting rather than guess.
    [ -n "$state" ] || state=UNREACHABLE
  fi
fi

case $state in
  COMPLETED) echo success ;;
  FAILED | CANCELLED* | TIMEOUT | NODE_FAIL | OUT_OF_MEMORY | BOOT_FAIL | DEADLINE | PREEMPTED)
    echo failed ;;
  *) echo running ;;
esac
