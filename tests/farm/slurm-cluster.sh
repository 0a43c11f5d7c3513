#!/usr/bin/env bash
# slurm-cluster.sh start DIR | stop DIR
# A single-node Slurm cluster on this machine, for the farm tests: munged,
# slurmctld and slurmd with everything (keys, sockets, state, logs, ports)
# inside DIR, so that it touches no system-wide setting. The node is this
# host as `slurmd -C` sees it. Commands given SLURM_CONF=DIR/slurm.conf
# talk to it. Needs root (the daemons change user and start job steps).
set -euo pipefail

free_port() {
  python3 - <<'PY' 2>/dev/null || echo $((20000 + RANDOM % 20000))
import socket
s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])
PY
}

wait_for() {  # wait_for SECONDS COMMAND...: polls until COMMAND succeeds
  local deadline=$((SECONDS + $1)); shift
  until "$@" >/dev/null 2>&1; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.2
  done
}

start() {
  local dir=$1
  mkdir -p "$dir"/state "$dir"/spool "$dir"/munge
  chmod 700 "$dir"/munge
  dd if=/dev/urandom of="$dir"/munge/munge.key bs=1024 count=1 status=none
  chmod 600 "$dir"/munge/munge.key
  munged --force --socket="$dir"/munge/munge.socket --key-file="$dir"/munge/munge.key \
    --pid-file="$dir"/munge/munged.pid --log-file="$dir"/munge/munged.log --seed-file="$dir"/munge/munged.seed
  local node cpus
  node=$(slurmd -C | sed -n 's/^NodeName=\([^ ]*\).*/\1/p')
  cpus=$(slurmd -C | sed -n 's/.* CPUs=\([0-9]*\).*/\1/p')
  cat >"$dir"/slurm.conf <<CONF
ClusterName=ombrixtest
SlurmctldHost=$node
SlurmctldPort=$(free_port)
SlurmdPort=$(free_port)
AuthType=auth/munge
AuthInfo=socket=$dir/munge/munge.socket
CredType=cred/munge
SlurmUser=root
SlurmdUser=root
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/slurmctld.log
SlurmdLogFile=$dir/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SwitchType=switch/none
MpiDefault=none
SchedulerType=sched/builtin
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
ReturnToService=2
JobRequeue=1
MinJobAge=600
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
JobAcctGatherType=jobacct_gather/none
SlurmctldParameters=enable_configless
NodeName=$node CPUs=$cpus State=UNKNOWN
PartitionName=farmtest Nodes=$node Default=YES MaxTime=INFINITE State=UP
CONF
  export SLURM_CONF="$dir"/slurm.conf
  slurmctld -f "$SLURM_CONF"
  wait_for 30 scontrol ping || { echo "slurmctld did not answer" >&2; cat "$dir"/slurmctld.log >&2; return 1; }
  slurmd -f "$SLURM_CONF"
  wait_for 30 sh -c "sinfo -h -o %T | grep -qE '^(idle|mixed|allocated)'" ||
    { echo "the node did not come up" >&2; cat "$dir"/slurmd.log >&2; return 1; }
}

stop() {
  local dir=$1 pidfile
  for pidfile in "$dir"/slurmd.pid "$dir"/slurmctld.pid "$dir"/munge/munged.pid; do
    [ -s "$pidfile" ] || continue
    local pid; pid=$(cat "$pidfile")
    kill "$pid" 2>/dev/null || continue
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  done
}

"$@"
