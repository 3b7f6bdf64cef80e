#!/usr/bin/env bash
# The corpus on a real single-node Slurm cluster (slurmctld and slurmd in a
# private folder, no authentication daemon): a 4-task array submitted by
# scripts/slurm-corpus.sh, one task killed while it runs, the merge job then
# naming what is missing, the task resubmitted, and the merged table equal
# byte for byte to one run on this machine.
#   corpus_slurm.sh QUENVIS_RENDER
# Exit 77 (skipped) when Slurm is not installed (scripts/setup.sh installs it)
# or the test is not run as root.
set -euo pipefail
exe=$(realpath "$1")
here=$(cd "$(dirname "$0")/../.." && pwd)
# The daemons run as root here, as on the test machines.
[ "$(id -u)" = 0 ] || { echo "corpus_slurm: needs root for its private slurmctld; skipped"; exit 77; }
for tool in slurmctld slurmd sbatch squeue scontrol scancel sinfo sox python3; do
  command -v "$tool" >/dev/null || { echo "corpus_slurm: $tool not installed; skipped"; exit 77; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/corpus-slurm.XXXXXX")
chmod 755 "$work"
. "$here/scripts/slurm-local.sh"
stop_cluster() {
  slurm_local_stop
  rm -rf "$work"
}
trap stop_cluster EXIT
trap 'exit 1' INT TERM
fail() { echo "corpus_slurm: $*" >&2; for f in "$work"/out-slurm/slurm/*.log "$work"/slurm/*.log; do [ -f "$f" ] && { echo "== $f"; tail -5 "$f"; }; done >&2; exit 1; }

# A corpus of 24 voiced recordings of 40 s, vowels every 250 ms.
mkdir -p "$work/corpus"
sox -n -r 44100 -c 1 -b 16 "$work/corpus/base.wav" synth 40 sawtooth 100-200 \
  equalizer 700 200h +15 equalizer 1200 250h +12 equalizer 2600 300h +8 lowpass 4000 gain -n -6
python3 - "$work/corpus" <<'PY'
import os, sys
root = sys.argv[1]
seconds = 40.0
def grid(shift):
    words, phones, t, k = [], [], 0.0, shift
    labels = ["AA1", "IY1", "UW1", "EH1"]
    while t + 0.25 <= seconds + 1e-9:
        words.append((t, t + 0.25, "W%d" % k))
        phones += [(t, t + 0.05, "M"), (t + 0.05, t + 0.25, labels[k % 4])]
        k += 1
        t += 0.25
    out = ['File type = "ooTextFile"', 'Object class = "TextGrid"', "", "0", "40", "<exists>", "2"]
    for name, items in (("words", words), ("phones", phones)):
        out += ['"IntervalTier"', '"%s"' % name, "0", "40", str(len(items))]
        for a, b, s in items:
            out += [repr(a), repr(b), '"%s"' % s]
    return "\n".join(out) + "\n"
with open(os.path.join(root, "manifest.csv"), "w") as m:
    m.write("recording,textgrid,speaker,group\n")
    for i in range(24):
        spk = "s%d" % (i % 5)
        os.makedirs(os.path.join(root, spk), exist_ok=True)
        os.link(os.path.join(root, "base.wav"), os.path.join(root, spk, "r%02d.wav" % i))
        open(os.path.join(root, spk, "r%02d.TextGrid" % i), "w").write(grid(i))
        m.write("%s/r%02d.wav,%s/r%02d.TextGrid,%s,g%d\n" % (spk, i, spk, i, spk, i % 2))
    m.write("missing.wav,missing.TextGrid,s9,g0\n")
PY
"$exe" corpus --quiet "$work/corpus/manifest.csv" "$work/out-one" || fail "the single-machine run failed"

slurm_local_start "$work/slurm" || fail "the cluster did not start"

wait_gone() { slurm_local_wait "$1" || fail "job $1 still queued after 2 minutes"; }

line=$("$here/scripts/slurm-corpus.sh" --tasks 4 --partition debug --time 5 --mem 200M \
  --exe "$exe" "$work/corpus/manifest.csv" "$work/out-slurm") || fail "slurm-corpus.sh failed"
array=$(sed -n 's/^array \([0-9]*\) .*/\1/p' <<<"$line")
merge=$(sed -n 's/.*, merge \([0-9]*\);.*/\1/p' <<<"$line")
[ -n "$array" ] && [ -n "$merge" ] || fail "no job ids in: $line"

# Task 2 is killed once it has measured one of its recordings and not all:
# its share is the recordings whose path hashes (FNV-1a) to 1 modulo 4, and
# each part is named after the entry's position.
mapfile -t mine < <(python3 - "$work/corpus/manifest.csv" <<'PY'
import csv, sys
rows = list(csv.reader(open(sys.argv[1], newline="")))[1:]
for i, r in enumerate(rows):
    h = 14695981039346656037
    for b in r[0].encode():
        h = ((h ^ b) * 1099511628211) % (1 << 64)
    if h % 4 == 1:
        print("%08d-" % (i + 1))
PY
)
[ ${#mine[@]} -ge 2 ] || fail "task 2 has only ${#mine[@]} recordings"
parts_of_task2() {
  local n=0 k
  for k in "${mine[@]}"; do compgen -G "$work/out-slurm/parts/$k*.part" >/dev/null && n=$((n + 1)); done
  echo "$n"
}
killed=0
for _ in $(seq 2000); do
  n=$(parts_of_task2)
  if [ "$n" -ge 1 ]; then
    [ "$n" -lt ${#mine[@]} ] || fail "task 2 finished before it could be killed"
    scancel --signal=KILL "${array}_2" && killed=1
    break
  fi
  sleep 0.02
done
[ "$killed" = 1 ] || fail "task 2 never measured a recording"
wait_gone "$array"
wait_gone "$merge"
[ ! -e "$work/out-slurm/vowels.csv" ] || fail "the merge wrote a table though task 2 was killed"
grep -q "not measured yet" "$work/out-slurm/slurm/merge.log" || fail "the merge did not name what is missing"
lost=$(sed -n 's/.*: \([0-9]*\) recordings have no part yet.*/\1/p' "$work/out-slurm/slurm/merge.log")
[ "$lost" -ge 1 ] && [ "$lost" -lt ${#mine[@]} ] || fail "task 2 lost $lost of its ${#mine[@]} recordings"

# Resubmitted, task 2 measures only what it had not; then the merge.
again=$(sbatch --parsable --array=2 "$work/out-slurm/slurm/corpus.sbatch")
wait_gone "${again%%;*}"
merged=$(sbatch --parsable "$work/out-slurm/slurm/merge.sbatch")
wait_gone "${merged%%;*}"
[ -f "$work/out-slurm/vowels.csv" ] || fail "no table after the resubmitted task"
cmp "$work/out-one/vowels.csv" "$work/out-slurm/vowels.csv" || fail "the merged table differs from the single run's"
cmp "$work/out-one/problems.csv" "$work/out-slurm/problems.csv" || fail "problems.csv differs from the single run's"
rows=$(($(wc -l <"$work/out-one/vowels.csv") - 1))
[ "$rows" -eq $((24 * 160)) ] || fail "$rows rows instead of $((24 * 160))"
echo "corpus_slurm: 4-task array, task 2 killed with $lost of its ${#mine[@]} recordings unmeasured" \
  "and resubmitted: merged table equal to the single run ($rows rows)"
