#!/usr/bin/env bash
# Measures a corpus on a Slurm cluster: writes and submits a job array of
# `quenvis-render corpus --shard` tasks and a merge job that runs once they
# have all ended.
#   slurm-corpus.sh [options] MANIFEST|FOLDER OUTDIR [-- corpus options...]
# Options:
#   --tasks N          array size, the number of shards [8]
#   --partition NAME   partition [the cluster's default]
#   --time T           time limit of each task, as sbatch takes it [1:00:00]
#   --mem M            memory of each task, as sbatch takes it [200M]
#   --cpus N           cores of each task (recordings measured at once) [1]
#   --exe PATH         quenvis-render on the nodes [the one on PATH]
#   --no-submit        write the job scripts only
# The job scripts go to OUTDIR/slurm/ (corpus.sbatch, merge.sbatch, logs).
# Tasks run with --resume: a task that was preempted or killed is redone by
#   sbatch --array=K OUTDIR/slurm/corpus.sbatch
# measuring only what it had not finished; then sbatch OUTDIR/slurm/merge.sbatch
# (or quenvis-render corpus merge OUTDIR). The merge names any recording that
# has no part yet and then fails, writing nothing.
set -euo pipefail
tasks=8 partition= time=1:00:00 mem=200M cpus=1 exe= submit=1
args=()
while [ $# -gt 0 ]; do
  case $1 in
    --tasks) tasks=$2; shift 2 ;;
    --partition) partition=$2; shift 2 ;;
    --time) time=$2; shift 2 ;;
    --mem) mem=$2; shift 2 ;;
    --cpus) cpus=$2; shift 2 ;;
    --exe) exe=$2; shift 2 ;;
    --no-submit) submit=0; shift ;;
    --) shift; break ;;
    -h|--help) sed -n '2,19p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "slurm-corpus: unknown option $1" >&2; exit 2 ;;
    *) args+=("$1"); shift ;;
  esac
done
[ ${#args[@]} -eq 2 ] || { echo "slurm-corpus: needs MANIFEST|FOLDER and OUTDIR (see --help)" >&2; exit 2; }
[[ $tasks =~ ^[1-9][0-9]*$ ]] || { echo "slurm-corpus: --tasks $tasks is not a positive number" >&2; exit 2; }
[[ $cpus =~ ^[1-9][0-9]*$ ]] || { echo "slurm-corpus: --cpus $cpus is not a positive number" >&2; exit 2; }
source=$(realpath -e "${args[0]}") || { echo "slurm-corpus: ${args[0]}: no such file or folder" >&2; exit 2; }
mkdir -p "${args[1]}/slurm"
out=$(realpath -e "${args[1]}")
if [ -z "$exe" ]; then
  exe=$(command -v quenvis-render) || { echo "slurm-corpus: no quenvis-render on PATH; give --exe" >&2; exit 2; }
fi
exe=$(realpath -e "$exe")

quoted() { printf '%q ' "$@"; }
header() {  # NAME OUTPUT-PATTERN
  echo '#!/bin/bash'
  echo "#SBATCH --job-name=$1"
  echo "#SBATCH --output=$out/slurm/$2"
  echo "#SBATCH --time=$time"
  echo "#SBATCH --mem=$mem"
  echo "#SBATCH --cpus-per-task=$cpus"
  [ -z "$partition" ] || echo "#SBATCH --partition=$partition"
}
{
  header quenvis-corpus 'task-%a.log'
  echo "#SBATCH --array=1-$tasks"
  echo "exec $(quoted "$exe" corpus --quiet --resume --jobs "$cpus" --shard "$tasks" "$@" "$source" "$out")"
} >"$out/slurm/corpus.sbatch"
{
  header quenvis-corpus-merge 'merge.log'
  echo "exec $(quoted "$exe" corpus merge "$out")"
} >"$out/slurm/merge.sbatch"
[ "$submit" = 1 ] || { echo "$out/slurm/corpus.sbatch"; echo "$out/slurm/merge.sbatch"; exit 0; }

array=$(sbatch --parsable "$out/slurm/corpus.sbatch")
array=${array%%;*}
# afterany: the merge also runs when a task failed, and then says which
# recordings are missing.
merge=$(sbatch --parsable --dependency="afterany:$array" "$out/slurm/merge.sbatch")
merge=${merge%%;*}
echo "array $array ($tasks tasks), merge $merge; the table: $out/vowels.csv"
