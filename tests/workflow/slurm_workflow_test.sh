#!/bin/bash
# The workflow through workflow/profiles/slurm on a one-node SLURM cluster
# that this script starts on this machine (munged, slurmctld and slurmd as
# root, private state under SCRATCH_DIR, no accounting) and stops again by
# its pid files, also when it fails. The results must equal one
# `vxrun batch -j 1` byte for byte, and every file's job must have gone
# through sbatch. A cluster that cannot start is a failure.
# usage: slurm_workflow_test.sh SOURCE_DIR VXRUN SCRATCH_DIR
set -euo pipefail
src=$1 vxrun=$2 work=$3
. "$src/tests/workflow/workflow_test_lib.sh"

[ "$(id -u)" = 0 ] || fail "the SLURM test starts munged, slurmctld and slurmd: run it as root"
for tool in munged slurmctld slurmd sbatch squeue scontrol snakemake; do
  command -v "$tool" > /dev/null || fail "$tool is missing (scripts/install-deps.sh installs it)"
done

make_inputs "$work"
state="$work/slurm"
mkdir -p "$state/ctld" "$state/spool" "$state/munge"
chmod 700 "$state/munge"

stop_daemons() {
  local pidfile pid
  for pidfile in "$state/slurmd.pid" "$state/slurmctld.pid" "$state/munge/munged.pid"; do
    [ -s "$pidfile" ] || continue
    pid=$(cat "$pidfile")
    kill "$pid" 2> /dev/null || continue
    for _ in $(seq 50); do kill -0 "$pid" 2> /dev/null || break; sleep 0.2; done
  done
}
trap stop_daemons EXIT

step "starting munged"
dd if=/dev/urandom of="$state/munge/munge.key" bs=1024 count=1 status=none
chmod 400 "$state/munge/munge.key"
munged --force --key-file="$state/munge/munge.key" --socket="$state/munge/munge.socket" \
  --pid-file="$state/munge/munged.pid" --log-file="$state/munge/munged.log" \
  --seed-file="$state/munge/munged.seed" ||
  fail "munged did not start" "$state/munge/munged.log"

# Two free ports, so that the test never meets another cluster on this machine.
read -r ctld_port slurmd_port < <(python3 -c '
import socket
socks = [socket.socket() for _ in range(2)]
for s in socks: s.bind(("", 0))
print(*[s.getsockname()[1] for s in socks])')
host=$(hostname -s)
cat > "$state/slurm.conf" <<EOF
ClusterName=vxtest
SlurmctldHost=$host
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$state/munge/munge.socket
StateSaveLocation=$state/ctld
SlurmdSpoolDir=$state/spool
SlurmctldPidFile=$state/slurmctld.pid
SlurmdPidFile=$state/slurmd.pid
SlurmctldLogFile=$state/slurmctld.log
SlurmdLogFile=$state/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SchedulerType=sched/backfill
SelectType=select/cons_tres
SelectTypeParameters=CR_Core_Memory
MpiDefault=none
ReturnToService=2
MinJobAge=600
NodeName=$host CPUs=2 RealMemory=2048 State=UNKNOWN
PartitionName=debug Nodes=$host Default=YES MaxTime=INFINITE State=UP
EOF
export SLURM_CONF="$state/slurm.conf"

step "starting slurmctld and slurmd on $host (ports $ctld_port, $slurmd_port)"
slurmctld -i || fail "slurmctld did not start" "$state/slurmctld.log"
slurmd || fail "slurmd did not start" "$state/slurmd.log"
for _ in $(seq 60); do
  [ "$(sinfo -h -n "$host" -o %T 2> /dev/null)" = idle ] && break
  sleep 1
done
[ "$(sinfo -h -n "$host" -o %T 2> /dev/null)" = idle ] ||
  fail "the node never became idle: $(sinfo -h -o '%T %E' 2>&1)" "$state/slurmd.log"

step "the workflow through the SLURM profile"
cd "$work"
write_config cfg.yaml out
snakemake -s "$src/workflow/Snakefile" --profile "$src/workflow/profiles/slurm" \
  --configfile cfg.yaml > slurm.log 2>&1 || fail "snakemake on SLURM failed" slurm.log
compare_with_batch out
parts=$(ls out/parts/*.tsv | wc -l)
submitted=$(grep -c "Submitted job .* with external jobid" slurm.log || true)
[ "$submitted" = "$parts" ] || fail "$submitted jobs went to SLURM for $parts files" slurm.log
jobs_seen=$(ls .snakemake/slurm_logs/*.log | wc -l)
[ "$jobs_seen" = "$parts" ] || fail "$jobs_seen SLURM job logs for $parts files" slurm.log

step "the status script knows a finished job"
[ "$("$src/workflow/profiles/slurm/slurm-status.sh" "$(grep -o "external jobid '[0-9]*" slurm.log |
  head -n 1 | grep -o '[0-9]*$')")" = success ] || fail "the status script does not say success"

echo "PASS"
