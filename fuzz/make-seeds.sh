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
# Every sample format at 44 100 Hz, which is read without resampling.
gen "${r[@]}" -c 2 -b 64 -e floating-point double.wav "${tone[@]}"
gen "${r[@]}" -c 1 -b 8 -e u-law ulaw.wav "${tone[@]}" remix 1
gen "${r[@]}" -c 1 -b 8 -e a-law alaw.au "${tone[@]}" remix 1
gen "${r[@]}" -c 2 -e ima-adpcm ima.wav "${tone[@]}"
gen "${r[@]}" -c 1 -e ms-adpcm ms.wav "${tone[@]}" remix 1
gen "${r[@]}" -c 2 -b 32 -e floating-point float.aifc "${tone[@]}"
gen "${r[@]}" -c 2 -b 24 stereo24.caf "${tone[@]}"
# Headers that declare enormous lengths: a FLAC sample count, a WAV stream's
# placeholder sizes, an ADPCM data size of 2 GB.
if command -v python3 >/dev/null; then
  python3 - <<'PY'
def patch(src, dst, edit):
    d = bytearray(open(src, 'rb').read())
    edit(d)
    open(dst, 'wb').write(d)
def flac(d):
    d[21] |= 0x0F
    d[22:26] = b'\xff\xff\xff\xff'
def stream(d):
    d[4:8] = (0x7FFFF024).to_bytes(4, 'little')
    i = d.find(b'data')
    d[i + 4:i + 8] = (0x7FFFF000).to_bytes(4, 'little')
def adpcm(d):
    i = d.find(b'data')
    d[i + 4:i + 8] = (0x80000000).to_bytes(4, 'little')
patch('mono24.flac', 'huge-count.flac', flac)
patch('stereo16.wav', 'stream.wav', stream)
patch('ima.wav', 'huge-adpcm.wav', adpcm)
PY
fi
gen "${r[@]}" -c 3 -b 16 three.wav synth 0.1 sine 300 sine 1500 sine 600 gain -6
cd ../pipeline
gen "${r[@]}" -c 2 -b 16 -e signed -t raw tones.raw synth 6144s sine 300 sine 1500 gain -6
gen "${r[@]}" -c 2 -b 16 -e signed -t raw loud.raw synth 6144s square 440 gain -n
