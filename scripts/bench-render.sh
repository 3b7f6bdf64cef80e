#!/usr/bin/env bash
# Whole-process time and peak memory of quenvis-render over a generated
# 10-minute 48 kHz stereo recording (resampling, default outputs: formants,
# spectrogram and chart included): bench-render.sh [BUILD_DIR] [extra options...]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}; shift || true
exe=$build/src/render/quenvis-render
[ -x "$exe" ] || { echo "bench-render: build $exe first (scripts/build.sh $build)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Voiced throughout, so that the formant estimator runs its whole course on
# every block: a buzz gliding from 100 to 300 Hz with three formant-like
# resonances, a sweeping tone pair (changing peaks in both zones) and a
# little pink noise.
sox -n -r 48000 -c 1 -b 16 "$work/buzz.wav" synth 600 sawtooth 100-300 \
  equalizer 700 200h +15 equalizer 1200 250h +12 equalizer 2600 300h +8 lowpass 4000 gain -n -6
sox -n -r 48000 -c 1 -b 16 "$work/tones.wav" synth 600 sine 150-800 sine 700-2200 pinknoise \
  remix - vol 0.1 2>/dev/null
sox -M "$work/buzz.wav" "$work/tones.wav" -c 2 "$work/ten-minutes.wav" remix 1v0.8,2v0.2 1v0.8,2v0.2
rm "$work/buzz.wav" "$work/tones.wav"

/usr/bin/time -f '%e %U %S %M' -o "$work/time" "$exe" --quiet "$@" "$work/ten-minutes.wav" "$work/out"
read -r wall user sys rss <"$work/time"
awk -v wall="$wall" -v user="$user" -v sys="$sys" -v rss="$rss" 'BEGIN {
  cpu = user + sys
  printf "10-minute 48 kHz stereo: %.2f s wall, %.2f s CPU (%.2f cores used)\n", wall, cpu, cpu / wall
  printf "  %.0fx real time, %.0fx real time per core used\n", 600 / wall, 600 / cpu
  printf "  peak memory %.1f MB\n", rss / 1024
}'
awk -F, 'NR > 1 { n++; v += $10; if ($4 != "" && $5 != "") f++ }
  END { printf "  %d blocks, %d voiced, %d with F1 and F2 estimated\n", n, v, f }' "$work/out/formants.csv"
ls "$work/out"
