#!/usr/bin/env bash
# CPU time of quenvis-render --formant-step 10 (voice.csv included) over the
# recordings of data/speech-reference that are installed, end to end in one
# file (one process, whose analysis runs on one core):
#   scripts/bench-voice-render.sh [BUILD_DIR] [REPEATS]
# Prints the sound's length, the CPU seconds (user + system, best of
# REPEATS, default 3) and how many times real time that is on one core.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
repeats=${2:-3}
exe=$build/src/render/quenvis-render
[ -x "$exe" ] || { echo "bench-voice-render: build $exe first" >&2; exit 1; }
command -v sox >/dev/null && command -v soxi >/dev/null || { echo "needs sox (apt-get install sox)" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/var/tmp}/bench-voice.XXXXXX")
trap 'rm -rf "$work"' EXIT
mapfile -t files < <(tail -n +2 data/speech-reference/recordings.csv | cut -d, -f6 |
  while read -r f; do [ -f "$f" ] && printf '%s\n' "$f"; done)
[ ${#files[@]} -gt 0 ] || { echo "none of the recordings is installed" >&2; exit 1; }
# One 44 100 Hz WAV of them all, end to end (libsndfile reads no GSM), so
# that neither decoding, resampling nor starting a process is timed.
wavs=()
for f in "${files[@]}"; do
  w=$work/$(printf '%03d' ${#wavs[@]}).wav
  sox "$f" -r 44100 -c 1 -b 16 "$w"
  wavs+=("$w")
done
sox "${wavs[@]}" "$work/all.wav"
seconds=$(soxi -D "$work/all.wav")
best=
for ((r = 0; r < repeats; r++)); do
  /usr/bin/time -f '%U %S' -o "$work/time" "$exe" --quiet --formant-step 10 "$work/all.wav" \
    "$work/out" >/dev/null
  cpu=$(awk '{ s += $1 + $2 } END { print s }' "$work/time")
  rm -f "$work/time"
  best=$(awk -v a="${best:-1e9}" -v b="$cpu" 'BEGIN { print (b < a ? b : a) }')
done
awk -v n=${#files[@]} -v len="$seconds" -v cpu="$best" 'BEGIN {
  printf "%d recordings, %.1f s of sound: %.2f s CPU (best of runs), %.0fx real time on one core\n", n, len, cpu, len / cpu
}'
