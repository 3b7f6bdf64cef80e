#!/usr/bin/env bash
# Why the formants are blank on recorded speech, counted per cause where the
# speech reference has formants:
#   scripts/blank-causes.sh RECORDINGS.csv REFERENCE.csv [ROWSDIR]
# The two tables as scripts/speech-vs-reference.sh writes them (--keep DIR or
# --write-data DIR; data/speech-reference holds the test's). Runs
# quenvis_blank_causes (build that target first) every 10 ms over each
# recording, which sox brings to 44 100 Hz stereo (quenvis-render resamples
# its own way: a frame here and there may differ). ROWSDIR keeps the
# resampled recordings and the rows for the next run.
set -euo pipefail
recordings=$1 reference=$2
rows=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
harness=${HARNESS:-$here/../build/bench/quenvis_blank_causes}
[ -x "$harness" ] || { echo "needs $harness (cmake --build build --target quenvis_blank_causes)" >&2; exit 1; }
if [ -z "$rows" ]; then
  rows=$(mktemp -d)
  trap 'rm -rf "$rows"' EXIT
fi
mkdir -p "$rows"
python3 -c '
import csv, sys
for r in csv.DictReader(open(sys.argv[1])):
    print(r["id"] + "\t" + r["path"])' "$recordings" |
while IFS=$'\t' read -r id path; do
  [ -s "$rows/$id.raw" ] || sox -D "$path" -r 44100 -c 2 -b 16 -e signed -t raw "$rows/$id.raw" 2>/dev/null
  "$harness" "$rows/$id.raw" > "$rows/$id.csv"
done
python3 "$here/blank_causes.py" "$recordings" "$reference" "$rows"
