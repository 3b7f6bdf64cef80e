#!/usr/bin/env bash
# Throughput and peak memory of quenvis-render corpus over a generated
# corpus: RECORDINGS recordings (default 60) of SECONDS seconds each (default
# 60), 44.1 kHz mono, voiced throughout (a gliding buzz through three
# formant-like resonances) with a TextGrid marking a vowel every 250 ms.
#   bench-corpus.sh [BUILD_DIR] [extra corpus options...]
# Prints the wall time, the CPU time, the times real time and the peak
# memory; SHARDS=N also runs the corpus as N shards one after the other and
# the merge, and checks that the merged table equals the single run's;
# SLURM_TASKS="1 2 4" also runs it on a private single-node Slurm cluster
# (scripts/slurm-local.sh) as job arrays of those sizes, from submission to
# the merged table.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}; shift || true
exe=$build/src/render/quenvis-render
[ -x "$exe" ] || { echo "bench-corpus: build $exe first" >&2; exit 1; }
count=${RECORDINGS:-60}
seconds=${SECONDS_EACH:-60}

work=$(mktemp -d "${TMPDIR:-/var/tmp}/bench-corpus.XXXXXX")
. scripts/slurm-local.sh
trap 'slurm_local_stop; rm -rf "$work"' EXIT
mkdir -p "$work/corpus"
sox -n -r 44100 -c 1 -b 16 "$work/base.wav" synth "$seconds" sawtooth 100-220 \
  equalizer 700 200h +15 equalizer 1200 250h +12 equalizer 2600 300h +8 lowpass 4000 gain -n -6
echo "recording,textgrid,speaker" >"$work/corpus/manifest.csv"
python3 - "$work/corpus/base.TextGrid" "$seconds" <<'PY'
import sys
path, seconds = sys.argv[1], float(sys.argv[2])
words, phones = [], []
t = 0.0
labels = ["AA1", "IY1", "UW1", "EH1", "AO1"]
k = 0
while t + 0.25 <= seconds + 1e-9:
    words.append((t, t + 0.25, "WORD"))
    phones.append((t, t + 0.05, "M"))
    phones.append((t + 0.05, t + 0.25, labels[k % len(labels)]))
    k += 1
    t += 0.25
def tier(name, items):
    out = ['"IntervalTier"', '"%s"' % name, "0", repr(seconds), str(len(items))]
    for a, b, s in items:
        out += [repr(a), repr(b), '"%s"' % s]
    return out
lines = ['File type = "ooTextFile"', 'Object class = "TextGrid"', "", "0", repr(seconds), "<exists>", "2"]
lines += tier("words", words) + tier("phones", phones)
open(path, "w").write("\n".join(lines) + "\n")
PY
for i in $(seq -w 1 "$count"); do
  spk=$(( 10#$i % 6 ))
  mkdir -p "$work/corpus/s$spk"
  ln "$work/base.wav" "$work/corpus/s$spk/r$i.wav"
  cp "$work/corpus/base.TextGrid" "$work/corpus/s$spk/r$i.TextGrid"
  echo "s$spk/r$i.wav,s$spk/r$i.TextGrid,s$spk" >>"$work/corpus/manifest.csv"
done
total=$((count * seconds))

report() {
  read -r wall user sys rss <"$work/time"
  awk -v what="$1" -v len="$total" -v wall="$wall" -v user="$user" -v sys="$sys" -v rss="$rss" 'BEGIN {
    cpu = user + sys
    printf "%s: %.2f s wall, %.2f s CPU (%.2f cores used), %.0fx real time, peak memory %.1f MB\n",
      what, wall, cpu, cpu / wall, len / wall, rss / 1024
  }'
}

/usr/bin/time -f '%e %U %S %M' -o "$work/time" "$exe" corpus --quiet "$@" \
  "$work/corpus/manifest.csv" "$work/one"
report "$count recordings, $((total / 60)) minutes, one run"
echo "  $(($(wc -l <"$work/one/vowels.csv") - 1)) vowel rows"
if [ -n "${SHARDS:-}" ]; then
  start=$(date +%s.%N)
  for s in $(seq 1 "$SHARDS"); do
    "$exe" corpus --quiet --shard "$s/$SHARDS" "$@" "$work/corpus/manifest.csv" "$work/sharded"
  done
  "$exe" corpus merge "$work/sharded"
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" -v n="$SHARDS" 'BEGIN { printf "%d shards in turn and the merge: %.2f s wall\n", n, b - a }'
  cmp "$work/one/vowels.csv" "$work/sharded/vowels.csv" && echo "  merged table equals the single run's"
fi
if [ -n "${SLURM_TASKS:-}" ]; then
  slurm_local_start "$work/slurm"
  for n in $SLURM_TASKS; do
    start=$(date +%s.%N)
    line=$(scripts/slurm-corpus.sh --tasks "$n" --partition debug --time 30 --mem 200M \
      --exe "$exe" "$@" "$work/corpus/manifest.csv" "$work/slurm-$n")
    merge=$(sed -n 's/.*, merge \([0-9]*\);.*/\1/p' <<<"$line")
    slurm_local_wait "$merge"
    end=$(date +%s.%N)
    awk -v a="$start" -v b="$end" -v n="$n" -v len="$total" \
      'BEGIN { printf "Slurm array of %d tasks and the merge: %.2f s wall, %.0fx real time\n", n, b - a, len / (b - a) }'
    cmp "$work/one/vowels.csv" "$work/slurm-$n/vowels.csv" && echo "  merged table equals the single run's"
  done
fi
