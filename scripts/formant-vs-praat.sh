#!/usr/bin/env bash
# Compares quenvis-render's formant tracks with Praat's on real recordings:
# the share of consecutive voiced analyses whose F2 jumps by more than 200 Hz
# (for each), and the median |F1| and |F2| difference on the analyses both
# call voiced. Praat: To Formant (burg) with its standard settings (5
# formants, 5 500 Hz, 25 ms window, pre-emphasis from 50 Hz) at our step;
# voiced where its standard To Pitch finds a pitch.
#   scripts/formant-vs-praat.sh [--step MS|block] [--keep DIR] [RECORDING...]
# --step block compares the live view's own rows, one per 2048-frame block
# (46.4 ms; our times are moved from the block's end to its window's centre).
# Given recordings, each is its own set. Without, every one of these sets
# whose package is installed (none is installed by the project's scripts):
#   alsa-utils                  spoken channel names, one woman, 48 kHz
#   asterisk-core-sounds-en-wav five long telephone prompts, one woman, 8 kHz
#   ktuberling-data             English words, one man, 44.1 kHz; Danish
#                               Christmas words, a high voice (F0 about
#                               230-360 Hz), 44.1 kHz
# What is not WAV (the Ogg Vorbis words) goes to both programs as a mono WAV
# made by sox, since Praat reads no Ogg. --keep DIR leaves the tracks there
# (q*/formants.csv, p*.csv) for a look at single blocks.
# Needs: praat, python3, sox (for non-WAV recordings), a build.
# scripts/speech-vs-reference.sh measures against where Praat agrees with RAPT
# and SWIPE (pitch) and with ESPS (formants) instead of against Praat alone.
set -euo pipefail

step=10
keep=
while [ $# -gt 0 ]; do
  case $1 in
    --step) step=$2; shift 2 ;;
    --keep) keep=$2; shift 2 ;;
    *) break ;;
  esac
done
render=${RENDER:-$(dirname "$0")/../build/src/render/quenvis-render}
command -v praat >/dev/null || { echo "needs praat (apt-get install praat)" >&2; exit 1; }
[ -x "$render" ] || { echo "needs $render (build it first)" >&2; exit 1; }

# One line per recording: set name, then path.
sets=()
add_set() { # NAME FILE... (files that do not exist are skipped)
  local name=$1 f
  shift
  for f in "$@"; do [ -f "$f" ] && sets+=("$name|$f"); done
  return 0
}
if [ $# -gt 0 ]; then
  for f in "$@"; do
    [ -f "$f" ] || { echo "no such recording: $f" >&2; exit 1; }
    sets+=("$f|$f")
  done
else
  add_set "alsa-utils (woman, 48 kHz)" /usr/share/sounds/alsa/{Front,Rear,Side}_*.wav
  allison=/usr/share/asterisk/sounds/en_US_f_Allison
  add_set "asterisk en (woman, 8 kHz)" \
    $allison/{demo-congrats,demo-echotest,vm-options,dir-intro,tt-allbusy}.wav
  add_set "ktuberling en (man, 44.1 kHz)" /usr/share/ktuberling/sounds/en/*.ogg
  add_set "ktuberling da xmas (high, 44.1 kHz)" /usr/share/ktuberling/sounds/da/xmas_*.ogg
  [ ${#sets[@]} -gt 0 ] || { echo "none of the default recordings is installed" >&2; exit 1; }
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ -n "$keep" ]; then mkdir -p "$keep"; out=$keep; else out=$work; fi
cat > "$work/formants.praat" <<'PRAAT'
form Formants
  sentence file
  sentence out
  real step
endform
s = Read from file: file$
f = To Formant (burg): step, 5, 5500, 0.025, 50
selectObject: s
p = To Pitch: step, 75, 600
writeFileLine: out$, "time_s,f1_hz,f2_hz,voiced"
selectObject: f
frames = Get number of frames
for i to frames
  selectObject: f
  t = Get time from frame number: i
  f1 = Get value at time: 1, t, "hertz", "linear"
  f2 = Get value at time: 2, t, "hertz", "linear"
  selectObject: p
  f0 = Get value at time: t, "hertz", "linear"
  appendFileLine: out$, fixed$(t, 4), ",", f1, ",", f2, ",", if f0 = undefined then 0 else 1 fi
endfor
PRAAT

if [ "$step" = block ]; then
  stepArgs=()
  seconds=$(awk 'BEGIN { printf "%.6f", 2048 / 44100 }')
  shift_s=$seconds
else
  stepArgs=(--formant-step "$step")
  seconds=$(awk -v ms="$step" 'BEGIN { print ms / 1000 }')
  shift_s=0
fi
i=0
for entry in "${sets[@]}"; do
  i=$((i + 1))
  name=${entry%%|*}
  rec=${entry#*|}
  input=$rec
  case $rec in
    *.wav|*.WAV) ;;
    *)
      command -v sox >/dev/null || { echo "needs sox for $rec" >&2; exit 1; }
      input=$work/in$i.wav
      sox -D "$rec" -c 1 -b 16 "$input"  # -D: no dither, the same input every run
      ;;
  esac
  "$render" --quiet "${stepArgs[@]}" "$input" "$out/q$i" >"$work/render.log" 2>&1 ||
    { cat "$work/render.log" >&2; echo "quenvis-render failed on $rec" >&2; exit 1; }
  praat --run "$work/formants.praat" "$input" "$out/p$i.csv" "$seconds"
  printf '%s|%s|%s|%s\n' "$name" "$rec" "$out/q$i/formants.csv" "$out/p$i.csv"
done > "$work/list"
[ -n "$keep" ] && cp "$work/list" "$keep/list"

python3 - "$work/list" "$seconds" "$shift_s" <<'PY'
import bisect, csv, statistics, sys

def rows(path, t, f1, f2, v, shift=0.0):
    out = []
    with open(path) as f:
        for r in csv.DictReader(f):
            def hz(k):
                try:
                    x = float(r[k])
                    return x if x > 0 else None
                except ValueError:
                    return None
            out.append((float(r[t]) - shift, hz(f1), hz(f2), r[v] == "1"))
    return out

def jumps(track):
    pairs = big = 0
    for a, b in zip(track, track[1:]):
        if a[3] and b[3] and a[2] and b[2]:
            pairs += 1
            big += abs(a[2] - b[2]) > 200
    return pairs, big

def nearest(p, times, t, step):
    # Praat's frames lie on a grid of its own: the nearest within half a step.
    i = bisect.bisect_left(times, t)
    best = min((j for j in (i - 1, i) if 0 <= j < len(p)),
               key=lambda j: abs(times[j] - t), default=None)
    return p[best] if best is not None and abs(times[best] - t) <= step / 2 else None

def compare(q, p, step):
    times = [r[0] for r in p]
    r1, r2 = [], []
    both = [0, 0, 0]  # consecutive pairs where both give F2 twice; our jumps; Praat's
    last = None
    for t, f1, f2, v in q:
        near = nearest(p, times, t, step) if v else None
        if near and near[3]:
            if f1 and near[1]: r1.append(abs(f1 - near[1]))
            if f2 and near[2]: r2.append(abs(f2 - near[2]))
        here = (f2, near[2]) if near and near[3] and f2 and near[2] else None
        if here and last:
            both[0] += 1
            both[1] += abs(here[0] - last[0]) > 200
            both[2] += abs(here[1] - last[1]) > 200
        last = here
    return r1, r2, both

step = float(sys.argv[2])
shift = float(sys.argv[3])
blank = lambda: {"n": 0, "q": [0, 0], "p": [0, 0], "d1": [], "d2": [], "both": [0, 0, 0]}
order, sets = [], {}
for line in open(sys.argv[1]):
    name, rec, qpath, ppath = line.rstrip("\n").split("|")
    if name not in sets:
        order.append(name)
        sets[name] = blank()
    s = sets[name]
    q = rows(qpath, "time_s", "f1_hz", "f2_hz", "voiced", shift)
    p = rows(ppath, "time_s", "f1_hz", "f2_hz", "voiced")
    for key, track in (("q", q), ("p", p)):
        pairs, big = jumps(track)
        s[key][0] += pairs; s[key][1] += big
    r1, r2, both = compare(q, p, step)
    s["d1"] += r1; s["d2"] += r2
    s["both"] = [x + y for x, y in zip(s["both"], both)]
    s["n"] += 1

def pct(big, n):
    return f"{100 * big / n:5.1f}" if n else "    -"

def line(label, s):
    med = lambda v: f"{statistics.median(v):5.0f}" if v else "    -"
    b = s["both"]
    print(f"{label:36} {s['n']:4d} {pct(s['q'][1], s['q'][0])} % {s['q'][0]:5d} "
          f"{pct(s['p'][1], s['p'][0])} % {s['p'][0]:5d}   {pct(b[1], b[0])} % {pct(b[2], b[0])} % {b[0]:5d}"
          f"   {med(s['d1'])} {med(s['d2'])} {len(s['d2']):5d}")

print(f"{'':41} F2 jumps > 200 Hz: share (pairs)              median |difference|")
print(f"{'set':36} {'recs':>4} {'ours':>13} {'Praat':>13}   {'where both give F2':>23}   {'F1':>5} {'F2':>5} {'n':>5}")
total = blank()
for name in order:
    s = sets[name]
    line(name, s)
    total["n"] += s["n"]
    for k in ("q", "p"):
        total[k][0] += s[k][0]; total[k][1] += s[k][1]
    total["d1"] += s["d1"]; total["d2"] += s["d2"]
    total["both"] = [x + y for x, y in zip(total["both"], s["both"])]
if len(order) > 1:
    line("all", total)
PY
