#!/usr/bin/env bash
# Measures quenvis-render --formant-step 10 on recorded speech against a
# reference that no single program decides:
#   pitch, per 10 ms frame: Praat (To Pitch, 75-600 Hz), RAPT and SWIPE (SPTK's
#     pitch, 75-600 Hz) all voiced and within 5 % of their median (the
#     reference), or all three unvoiced;
#   formants: Praat (To Formant (burg), 5 formants, 25 ms window, ceiling 5 000
#     Hz for a speaker whose median F0 is below 175 Hz, else 5 500 Hz; at 8 kHz
#     4 formants below 4 000 Hz, since the band ends there) and ESPS (snack's
#     formant, its standard settings) within 10 % on F1 and 7 % on F2 and F3,
#     on frames that two of the pitch trackers call voiced; the reference is
#     their mean.
# Each program's frame centres, and how they are brought to Praat's frames,
# are set out at the top of scripts/speech_reference.py, which does the
# arithmetic and prints the table per set, speaker and overall.
#   scripts/speech-vs-reference.sh [--per-speaker N] [--test-sets]
#                                  [--write-data DIR] [--keep DIR]
# Every set below whose package is installed is measured, up to N recordings
# per speaker (default 6, spread over the speaker's sorted files). --test-sets
# takes only the small packages that the CTest test uses (scripts/setup.sh
# installs them), 12 recordings per speaker; --write-data DIR writes
# recordings.csv and reference.csv there (the test's data: recordings
# alternate between the held-in and held-out half, per speaker). --keep DIR
# leaves every track there.
# Every recording goes to every program as the same mono 16-bit WAV made by
# sox (-D: no dither, the same input every run); SPTK gets it at 16 kHz.
# Needs: praat sptk tcl-snack sox python3 (apt-get install praat sptk
# tcl-snack sox), a build, and the recordings' packages:
#   alsa-utils, sound-theme-freedesktop (spoken channel names);
#   asterisk-core-sounds-en-wav (the English prompts), asterisk-core-sounds-
#   {es,fr,it,ru}-gsm, asterisk-prompt-{es-co,fr-armelle,it-menardi-gsm}
#   (telephone prompts, 8 kHz, women and an Italian man);
#   ktuberling-data (words in about 25 languages: men, women, children);
#   klettres-data (letters and syllables in about 20 languages).
set -euo pipefail

per_speaker=6
test_sets=0
write_data=
keep=
while [ $# -gt 0 ]; do
  case $1 in
    --per-speaker) per_speaker=$2; shift 2 ;;
    --test-sets) test_sets=1; per_speaker=12; shift ;;
    --write-data) write_data=$2; shift 2 ;;
    --keep) keep=$2; shift 2 ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
done
here=$(cd "$(dirname "$0")" && pwd)
render=${RENDER:-$here/../build/src/render/quenvis-render}
for tool in praat sptk tclsh sox python3; do
  command -v $tool >/dev/null || { echo "needs $tool (apt-get install praat sptk tcl-snack sox python3)" >&2; exit 1; }
done
echo 'package require snack' | tclsh >/dev/null 2>&1 || { echo "needs tcl-snack (apt-get install tcl-snack)" >&2; exit 1; }
[ -x "$render" ] || { echo "needs $render (build it first)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ -n "$keep" ]; then mkdir -p "$keep"; out=$keep; else out=$work; fi

# One line per recording: set|speaker|path.
: > "$work/chosen"
add_speaker() { # SET SPEAKER FILE... (missing files are skipped; N spread over the rest)
  local set=$1 speaker=$2
  shift 2
  local files=() f
  for f in "$@"; do [ -f "$f" ] && files+=("$f"); done
  [ ${#files[@]} -gt 0 ] || return 0
  printf '%s\n' "${files[@]}" | sort | awk -v n="$per_speaker" -v set="$set" -v sp="$speaker" '
    { f[NR] = $0 }
    END { step = NR > n ? NR / n : 1; for (i = 0; i < n && 1 + int(i * step) <= NR; i++) print set "|" sp "|" f[1 + int(i * step)] }' \
    >> "$work/chosen"
}
snd=/usr/share/asterisk/sounds
add_speaker "sound-theme-freedesktop" "channel names" /usr/share/sounds/freedesktop/stereo/audio-channel-*.oga
add_speaker "asterisk-prompt-es-co" "es" $snd/es/*.gsm
add_speaker "asterisk-prompt-fr-armelle" "fr" $snd/fr/*.gsm
add_speaker "asterisk-core-sounds-it-gsm" "it Carlo" $snd/it_IT_m_Carlo/*.gsm
add_speaker "asterisk-core-sounds-ru-gsm" "ru" $snd/ru_RU_f_IvrvoiceRU/*.gsm
if [ $test_sets = 0 ]; then
  add_speaker "alsa-utils" "channel names" /usr/share/sounds/alsa/{Front,Rear,Side}_*.wav
  add_speaker "asterisk-core-sounds-en-wav" "en Allison" \
    $snd/en_US_f_Allison/{demo-congrats,demo-echotest,vm-options,dir-intro,tt-allbusy}.wav
  add_speaker "asterisk-core-sounds-es-gsm" "es Allison" $snd/es_MX_f_Allison/*.gsm
  add_speaker "asterisk-core-sounds-fr-gsm" "fr June" $snd/fr_CA_f_June/*.gsm
  add_speaker "asterisk-prompt-it-menardi-gsm" "it Menardi" $snd/it_IT_f_Menardi/*.gsm
  for d in /usr/share/ktuberling/sounds/*/; do
    lang=$(basename "$d")
    case $lang in sr@*) continue ;; esac  # the same recordings as sr
    if [ "$lang" = da ]; then
      add_speaker "ktuberling-data" "da xmas" "$d"xmas_*.ogg
      add_speaker "ktuberling-data" "da" $(ls "$d"*.ogg | grep -v /xmas_)
    else
      add_speaker "ktuberling-data" "$lang" "$d"*.ogg "$d"*.wav
    fi
  done
  for d in /usr/share/klettres/*/; do
    lang=$(basename "$d")
    if [ -d "$d/syllab" ]; then
      add_speaker "klettres-data" "$lang syllables" "$d"syllab/*.ogg
    fi
    add_speaker "klettres-data" "$lang letters" "$d"alpha/*.ogg
  done
fi
[ -s "$work/chosen" ] || { echo "none of the recordings' packages is installed" >&2; exit 1; }

cat > "$work/tracks.praat" <<'PRAAT'
form Tracks
  sentence file
  sentence out
endform
s = Read from file: file$
fs = Get sampling frequency
p = To Pitch: 0.01, 75, 600
selectObject: s
if fs < 11000
  fm = To Formant (burg): 0.01, 4, fs / 2, 0.025, 50
  fw = fm
else
  fm = To Formant (burg): 0.01, 5, 5000, 0.025, 50
  selectObject: s
  fw = To Formant (burg): 0.01, 5, 5500, 0.025, 50
endif
text$ = "time_s,f0,f1m,f2m,f3m,f1w,f2w,f3w" + newline$
selectObject: fm
frames = Get number of frames
for i to frames
  selectObject: fm
  t = Get time from frame number: i
  line$ = fixed$(t, 4)
  selectObject: p
  f0 = Get value at time: t, "Hertz", "linear"
  line$ = line$ + "," + if f0 = undefined then "0" else fixed$(f0, 2) fi
  for k to 2
    selectObject: if k = 1 then fm else fw fi
    for n to 3
      v = Get value at time: n, t, "hertz", "linear"
      line$ = line$ + "," + if v = undefined then "0" else fixed$(v, 1) fi
    endfor
  endfor
  text$ = text$ + line$ + newline$
endfor
writeFile: out$, text$
PRAAT

cat > "$work/esps.tcl" <<'TCL'
# F1-F3 per 10 ms frame; frame i's 49 ms window starts at i x 10 ms.
package require snack
snack::sound s
s read [lindex $argv 0]
foreach frame [s formant -framelength 0.01 -numformants 4] {
  puts [lrange $frame 0 2]
}
TCL

# The peers, two recordings at a time.
cat > "$work/one.sh" <<'ONE'
set -euo pipefail
work=$1 out=$2 id=$3 path=$4
sox -D "$path" -c 1 -b 16 "$out/$id.wav"
sox -D "$out/$id.wav" -r 16000 -t s16 - | sptk x2x +sf > "$work/$id.f32"
praat --run "$work/tracks.praat" "$out/$id.wav" "$out/$id.praat.csv"
sptk pitch -a 0 -s 16 -p 160 -L 75 -H 600 -o 1 "$work/$id.f32" | sptk x2x +fa > "$out/$id.rapt.txt"
sptk pitch -a 1 -s 16 -p 160 -L 75 -H 600 -o 1 "$work/$id.f32" | sptk x2x +fa > "$out/$id.swipe.txt"
tclsh "$work/esps.tcl" "$out/$id.wav" > "$out/$id.esps.txt" 2>/dev/null
ONE
: > "$work/list"
i=0
declare -A count
while IFS='|' read -r set speaker path; do
  i=$((i + 1))
  id=$(printf 'r%03d' $i)
  k="$set|$speaker"
  n=${count[$k]:-0}
  count[$k]=$((n + 1))
  half=$([ $((n % 2)) = 0 ] && echo heldin || echo heldout)
  digest=$(sha256sum "$path" | cut -c1-16)
  printf '%s|%s|%s|%s|%s|%s|%s|%s|%s|%s\n' "$id" "$half" "$set" "$speaker" "$path" "$digest" \
    "$out/$id.praat.csv" "$out/$id.rapt.txt" "$out/$id.swipe.txt" "$out/$id.esps.txt" >> "$work/list"
  printf '%s\0%s\0' "$id" "$path"
done < "$work/chosen" | xargs -0 -n 2 -P 2 bash "$work/one.sh" "$work" "$out"
echo "$(wc -l < "$work/list") recordings" >&2

python3 "$here/speech_reference.py" build "$work/list" "$out/recordings.csv" "$out/reference.csv"
if [ -n "$write_data" ]; then
  mkdir -p "$write_data"
  cp "$out/recordings.csv" "$out/reference.csv" "$write_data/"
fi
"$render" --quiet --formant-step 10 "$out"/r[0-9]*.wav "$out/quenvis" >"$work/render.log" 2>&1 ||
  { cat "$work/render.log" >&2; echo "quenvis-render failed" >&2; exit 1; }
python3 "$here/speech_reference.py" compare "$out/recordings.csv" "$out/reference.csv" "$out/quenvis"
