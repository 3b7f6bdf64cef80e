#!/usr/bin/env bash
# Compares quenvis-render's formant tracks with Praat's on real recordings:
# the share of consecutive voiced analyses whose F2 jumps by more than 200 Hz
# (for each), and the median |F1| and |F2| difference on the analyses both
# call voiced. Praat: To Formant (burg) with its standard settings (5
# formants, 5 500 Hz, 25 ms window, pre-emphasis from 50 Hz) at our step;
# voiced where its standard To Pitch finds a pitch.
#   scripts/formant-vs-praat.sh [--step MS] [RECORDING...]
# Without recordings: the spoken channel names that alsa-utils ships.
# Needs: praat, python3, alsa-utils (for the default recordings), a build.
set -euo pipefail

step=10
if [ "${1:-}" = --step ]; then step=$2; shift 2; fi
render=${RENDER:-build/src/render/quenvis-render}
recordings=("$@")
if [ ${#recordings[@]} -eq 0 ]; then
  for f in /usr/share/sounds/alsa/{Front,Rear,Side}_*.wav; do recordings+=("$f"); done
fi
command -v praat >/dev/null || { echo "needs praat (apt-get install praat)" >&2; exit 1; }
[ -x "$render" ] || { echo "needs $render (build it first)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
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

i=0
for rec in "${recordings[@]}"; do
  i=$((i + 1))
  "$render" --quiet --formant-step "$step" "$rec" "$work/q$i" >/dev/null 2>&1
  praat --run "$work/formants.praat" "$rec" "$work/p$i.csv" "$(awk -v ms="$step" 'BEGIN { print ms / 1000 }')"
  echo "$rec,$work/q$i/formants.csv,$work/p$i.csv"
done > "$work/list"

python3 - "$work/list" "$step" <<'PY'
import csv, statistics, sys

def rows(path, t, f1, f2, v):
    out = []
    with open(path) as f:
        for r in csv.DictReader(f):
            def hz(k):
                try:
                    x = float(r[k])
                    return x if x > 0 else None
                except ValueError:
                    return None
            out.append((float(r[t]), hz(f1), hz(f2), r[v] == "1"))
    return out

def jumps(track):
    pairs = big = 0
    for a, b in zip(track, track[1:]):
        if a[3] and b[3] and a[2] and b[2]:
            pairs += 1
            big += abs(a[2] - b[2]) > 200
    return pairs, big

step = float(sys.argv[2]) / 1000
total = {"q": [0, 0], "p": [0, 0]}
d1, d2 = [], []
print(f"{'recording':28} {'ours F2>200 Hz':>16} {'Praat F2>200 Hz':>16} {'med |dF1|':>9} {'med |dF2|':>9}")
for line in open(sys.argv[1]):
    name, qpath, ppath = line.strip().rsplit(",", 2)
    q = rows(qpath, "time_s", "f1_hz", "f2_hz", "voiced")
    p = rows(ppath, "time_s", "f1_hz", "f2_hz", "voiced")
    qp, qb = jumps(q)
    pp, pb = jumps(p)
    total["q"][0] += qp; total["q"][1] += qb
    total["p"][0] += pp; total["p"][1] += pb
    r1, r2 = [], []
    for t, f1, f2, v in q:
        if not v:
            continue
        near = min(p, key=lambda r: abs(r[0] - t))
        if abs(near[0] - t) <= step / 2 and near[3]:
            if f1 and near[1]: r1.append(abs(f1 - near[1]))
            if f2 and near[2]: r2.append(abs(f2 - near[2]))
    d1 += r1; d2 += r2
    med = lambda v: f"{statistics.median(v):9.0f}" if v else "        -"
    share = lambda n, b: f"{100 * b / n:5.1f} % of {n:4d}" if n else "  -"
    print(f"{name.split('/')[-1]:28} {share(qp, qb):>16} {share(pp, pb):>16} {med(r1)} {med(r2)}")
share = lambda k: 100 * total[k][1] / total[k][0] if total[k][0] else 0
print(f"{'all':28} {share('q'):14.1f} % {share('p'):14.1f} % "
      f"{statistics.median(d1) if d1 else 0:9.0f} {statistics.median(d2) if d2 else 0:9.0f}")
PY
