#!/usr/bin/env bash
# Writes small generated seed inputs: make-seeds.sh DIR
#   DIR/recording: short two-tone recordings in every container the reader
#                  takes, plus a few it must refuse;
#   DIR/pipeline:  raw blocks holding tones inside both default zones.
set -euo pipefail
dir=$1
mkdir -p "$dir/recording" "$dir/pipeline"
tone=(synth 0.1 sine 300 sine 1500 gain -6)
r=(-r 44100)
gen() { sox -V1 -D -n "$@"; }
cd "$dir/recording"
gen "${r[@]}" -c 2 -b 16 stereo16.wav "${tone[@]}"
gen "${r[@]}" -c 1 -b 16 mono16.wav "${tone[@]}" remix 1
gen "${r[@]}" -c 2 -b 32 -e floating-point float32.wav "${tone[@]}"
gen "${r[@]}" -c 1 -b 24 mono24.flac "${tone[@]}" remix 1
gen "${r[@]}" -c 2 -b 16 stereo16.aiff "${tone[@]}"
gen "${r[@]}" -c 1 -b 8 -e signed mono8.au "${tone[@]}" remix 1
gen "${r[@]}" -c 2 -b 16 stereo16.au "${tone[@]}"
gen "${r[@]}" -c 2 stereo.ogg "${tone[@]}"
gen "${r[@]}" -c 2 -b 16 stereo16.w64 "${tone[@]}"
gen "${r[@]}" -c 1 -b 16 short.wav synth 100s sine 300
gen "${r[@]}" -c 1 -b 16 empty.wav trim 0 0
gen -r 22050 -c 1 -b 16 rate22050.wav "${tone[@]}" remix 1
gen "${r[@]}" -c 3 -b 16 three.wav synth 0.1 sine 300 sine 1500 sine 600 gain -6
cd ../pipeline
gen "${r[@]}" -c 2 -b 16 -e signed -t raw tones.raw synth 6144s sine 300 sine 1500 gain -6
gen "${r[@]}" -c 2 -b 16 -e signed -t raw loud.raw synth 6144s square 440 gain -n
