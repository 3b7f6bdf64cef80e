#!/usr/bin/env bash
# Whole-process time and peak memory of quenvis-render over a generated
# 10-minute 48 kHz stereo recording (resampling, default outputs, spectrogram
# included): bench-render.sh [BUILD_DIR] [extra quenvis-render options...]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}; shift || true
exe=$build/src/render/quenvis-render
[ -x "$exe" ] || { echo "bench-render: build $exe first (scripts/build.sh $build)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A sweeping tone pair over pink noise: changing peaks in both zones.
sox -n -r 48000 -c 2 -b 16 "$work/ten-minutes.wav" \
  synth 600 sine 150-800 sine 700-2200 pinknoise vol 0.3 2>/dev/null

/usr/bin/time -f '%e %U %S %M' -o "$work/time" "$exe" --quiet "$@" "$work/ten-minutes.wav" "$work/out"
read -r wall user sys rss <"$work/time"
awk -v wall="$wall" -v user="$user" -v sys="$sys" -v rss="$rss" 'BEGIN {
  cpu = user + sys
  printf "10-minute 48 kHz stereo: %.2f s wall, %.2f s CPU (%.2f cores used)\n", wall, cpu, cpu / wall
  printf "  %.0fx real time, %.0fx real time per core used\n", 600 / wall, 600 / cpu
  printf "  peak memory %.1f MB\n", rss / 1024
}'
ls "$work/out"
