# A private single-node Slurm cluster for tests and benchmarks (Debian's
# slurm-wlm, root, no systemd, no authentication daemon), sourced:
#   . scripts/slurm-local.sh
#   slurm_local_start DIR     # slurm.conf, state and logs in DIR; exports SLURM_CONF
#   slurm_local_wait JOBID    # until squeue no longer lists it (2 minutes at most)
#   slurm_local_stop          # the daemons, by their process ids
# A caller traps EXIT to call slurm_local_stop, so that nothing is left running.
slurm_local_ctld= slurm_local_slurmd=

slurm_local_free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

slurm_local_start() {
  local dir=$1
  mkdir -p "$dir/state" "$dir/spool"
  : >"$dir/plugstack.conf"
  export SLURM_CONF=$dir/slurm.conf
  cat >"$SLURM_CONF" <<CONF
ClusterName=quenvislocal
SlurmctldHost=localhost
SlurmctldPort=$(slurm_local_free_port)
SlurmdPort=$(slurm_local_free_port)
SlurmUser=root
SlurmdUser=root
AuthType=auth/none
CredType=cred/none
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/slurmctld.log
SlurmdLogFile=$dir/slurmd.log
PlugStackConfig=$dir/plugstack.conf
MailProg=/bin/true
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
JobAcctGatherType=jobacct_gather/none
MpiDefault=none
ReturnToService=2
SchedulerParameters=batch_sched_delay=0,sched_min_interval=0
NodeName=$(hostname -s) NodeAddr=127.0.0.1 CPUs=2 Sockets=1 CoresPerSocket=2 ThreadsPerCore=1 RealMemory=2000
PartitionName=debug Nodes=ALL Default=YES State=UP
CONF
  slurmctld -D -i -f "$SLURM_CONF" >/dev/null 2>&1 &
  slurm_local_ctld=$!
  slurmd -D -f "$SLURM_CONF" >/dev/null 2>&1 &
  slurm_local_slurmd=$!
  local i
  for i in $(seq 120); do
    kill -0 "$slurm_local_ctld" 2>/dev/null || { echo "slurm-local: slurmctld ended at start" >&2; return 1; }
    [ "$(sinfo -h -o %T 2>/dev/null | head -1)" = idle ] && return 0
    sleep 0.25
  done
  echo "slurm-local: the node never became idle" >&2
  return 1
}

slurm_local_wait() {
  local i
  for i in $(seq 600); do
    [ -z "$(squeue -h -j "$1" 2>/dev/null)" ] && return 0
    sleep 0.2
  done
  echo "slurm-local: job $1 still queued after 2 minutes" >&2
  return 1
}

slurm_local_stop() {
  local p i
  if [ -n "$slurm_local_ctld" ] && kill -0 "$slurm_local_ctld" 2>/dev/null; then
    scontrol shutdown >/dev/null 2>&1 || true
    for i in $(seq 40); do
      kill -0 "$slurm_local_ctld" 2>/dev/null || kill -0 "$slurm_local_slurmd" 2>/dev/null || break
      sleep 0.25
    done
  fi
  for p in $slurm_local_ctld $slurm_local_slurmd; do kill -KILL "$p" 2>/dev/null || true; done
  for p in $slurm_local_ctld $slurm_local_slurmd; do wait "$p" 2>/dev/null || true; done
  slurm_local_ctld= slurm_local_slurmd=
}
