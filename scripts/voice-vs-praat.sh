#!/usr/bin/env bash
# Compares quenvis-render's voice measures with Praat's on the same
# recordings: synthetic sustained vowels (bench/make_voice_samples) and
# recorded speech from Debian packages (the sets of speech-vs-reference.sh
# that are installed, a few recordings each). Praat runs with the standard
# arguments (scripts/praat/voice-measures.praat); quenvis-render with
# --formant-step 10, and the medians of its voice.csv stand for Praat's
# means. The AVQI pairs go to quenvis-render --avqi and to Praat running the
# published steps (scripts/praat/avqi.praat).
#   scripts/voice-vs-praat.sh [--write-data DIR] [--keep DIR]
# --write-data DIR writes Praat's figures of the synthetic samples there
# (sustained.csv, avqi.csv: the test's data, data/voice-reference).
# Needs: praat sox python3, a build with the benchmarks (for the samples).
set -euo pipefail

write_data=
keep=
while [ $# -gt 0 ]; do
  case $1 in
    --write-data) write_data=$2; shift 2 ;;
    --keep) keep=$2; shift 2 ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
done
here=$(cd "$(dirname "$0")" && pwd)
build=${BUILD:-$here/../build}
render=${RENDER:-$build/src/render/quenvis-render}
samples=$build/bench/quenvis_make_voice_samples
for tool in praat sox python3; do
  command -v $tool >/dev/null || { echo "needs $tool (apt-get install praat sox python3)" >&2; exit 1; }
done
for exe in "$render" "$samples"; do
  [ -x "$exe" ] || { echo "needs $exe (build it first)" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ -n "$keep" ]; then mkdir -p "$keep"; out=$keep; else out=$work; fi
mkdir -p "$out/wav"
"$samples" "$out/wav"

# kind|name|path: synthetic vowels first, then recorded speech.
: > "$out/list"
for f in "$out"/wav/a*.wav; do
  echo "synthetic|$(basename "$f" .wav)|$f" >> "$out/list"
done
i=0
add() { # SET FILE...
  local set=$1; shift
  local f
  for f in "$@"; do
    [ -f "$f" ] || continue
    i=$((i + 1))
    local id
    id=$(printf 's%02d' $i)
    sox -D "$f" -c 1 -b 16 "$out/wav/$id.wav"
    echo "$set|$id $(basename "$f")|$out/wav/$id.wav" >> "$out/list"
  done
}
snd=/usr/share/asterisk/sounds
add alsa-utils /usr/share/sounds/alsa/{Front_Center,Rear_Left,Side_Right}.wav
add sound-theme-freedesktop /usr/share/sounds/freedesktop/stereo/audio-channel-{front-left,rear-right,side-left}.oga
add asterisk-core-sounds-en-wav $snd/en_US_f_Allison/{demo-congrats,vm-options}.wav
add ktuberling-data /usr/share/ktuberling/sounds/{en,de,fr}/{bow,hat,eye}.ogg
add klettres-data /usr/share/klettres/{en,fr}/alpha/{a,e}.ogg

while IFS='|' read -r kind name path; do
  printf '%s\0' "$path"
done < "$out/list" | xargs -0 -n 1 -P 2 sh -c \
  'praat --run "$1" "$2" > "$2.praat" 2>&1 || echo "praat failed on $2" >&2' _ "$here/praat/voice-measures.praat"
mapfile -t inputs < <(cut -d'|' -f3 "$out/list")
"$render" --quiet --formant-step 10 -- "${inputs[@]}" "$out/quenvis" >"$out/render.log" 2>&1 ||
  { cat "$out/render.log" >&2; echo "quenvis-render failed" >&2; exit 1; }

: > "$out/avqi.list"
for v in "$out"/wav/*-vowel.wav; do
  name=$(basename "$v" -vowel.wav)
  s="$out/wav/$name-speech.wav"
  praat --run "$here/praat/avqi.praat" "$v" "$s" > "$out/$name.avqi.praat" 2>&1 || true
  "$render" --avqi "$v" "$s" > "$out/$name.avqi.quenvis" 2>&1 || true
  echo "$name" >> "$out/avqi.list"
done
python3 "$here/voice_vs_praat.py" "$out" ${write_data:+--write-data "$write_data"}
