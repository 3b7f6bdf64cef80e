#!/usr/bin/env bash
# Whole-process time and peak memory of quenvis-render over a generated 48 kHz
# stereo recording (resampling, default outputs: formants, spectrogram and
# chart included), read as a file and through a pipe:
#   bench-render.sh [BUILD_DIR] [extra options...]
# MINUTES sets the recording's length (default 10; 120 shows that memory stays
# flat however long the recording is).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}; shift || true
exe=$build/src/render/quenvis-render
[ -x "$exe" ] || { echo "bench-render: build $exe first (scripts/build.sh $build)" >&2; exit 1; }
minutes=${MINUTES:-10}
seconds=$((minutes * 60))

work=$(mktemp -d "${TMPDIR:-/var/tmp}/bench-render.XXXXXX")
trap 'rm -rf "$work"' EXIT
# Voiced throughout, so that the formant estimator runs its whole course on
# every block: a buzz gliding from 100 to 300 Hz with three formant-like
# resonances, a sweeping tone pair (changing peaks in both zones) and a
# little pink noise.
sox -n -r 48000 -c 1 -b 16 "$work/buzz.wav" synth "$seconds" sawtooth 100-300 \
  equalizer 700 200h +15 equalizer 1200 250h +12 equalizer 2600 300h +8 lowpass 4000 gain -n -6
sox -n -r 48000 -c 1 -b 16 "$work/tones.wav" synth "$seconds" sine 150-800 sine 700-2200 pinknoise \
  remix - vol 0.1 2>/dev/null
sox -M "$work/buzz.wav" "$work/tones.wav" -c 2 "$work/in.wav" remix 1v0.8,2v0.2 1v0.8,2v0.2
rm "$work/buzz.wav" "$work/tones.wav"

report() {
  read -r wall user sys rss <"$work/time"
  awk -v what="$1" -v len="$seconds" -v wall="$wall" -v user="$user" -v sys="$sys" -v rss="$rss" 'BEGIN {
    cpu = user + sys
    printf "%s: %.2f s wall, %.2f s CPU (%.2f cores used), %.0fx real time\n", what, wall, cpu, cpu / wall, len / wall
    printf "  peak memory %.1f MB\n", rss / 1024
  }'
}

/usr/bin/time -f '%e %U %S %M' -o "$work/time" "$exe" --quiet "$@" "$work/in.wav" "$work/out"
report "$minutes-minute 48 kHz stereo file"
awk -F, 'NR > 1 { n++; v += $10; if ($4 != "" && $5 != "") f++ }
  END { printf "  %d blocks, %d voiced, %d with F1 and F2 estimated\n", n, v, f }' "$work/out/formants.csv"
ls "$work/out" | tr '\n' ' '; echo
rm -rf "$work/out"

# Standard input is copied to a temporary file first; the copy is not memory.
/usr/bin/time -f '%e %U %S %M' -o "$work/time" sh -c \
  'in=$1 exe=$2 out=$3; shift 3; cat "$in" | "$exe" --quiet "$@" - "$out"' \
  sh "$work/in.wav" "$exe" "$work/out" "$@"
report "the same through a pipe"
