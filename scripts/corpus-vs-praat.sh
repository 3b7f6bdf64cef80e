#!/usr/bin/env bash
# Compares quenvis-render corpus with the usual Praat script on one corpus:
# the time each takes, and per vowel each one's median error of F1 and F2
# at the middle of the interval against the known formants, and the median
# difference between them. The corpus is made by quenvis_make_vowel_corpus
# (bench/): synthetic vowels (the tests' cascade synthesiser) of two men
# (F0 110, 130 Hz) and two women (200, 230 Hz), six vowels twice in each of
# RECORDINGS recordings per speaker (default 4), with TextGrids of the known
# timings. Praat: To Formant (burg) with 5 formants below 5 000 Hz (men) or
# 5 500 Hz (women), 25 ms window, pre-emphasis from 50 Hz, 10 ms step, the
# value at the interval's middle; quenvis-render chooses its own ceiling.
#   scripts/corpus-vs-praat.sh [BUILD_DIR]
# Needs: praat, python3, a build (with the benchmarks). KEEP=1 keeps the files.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
exe=$build/src/render/quenvis-render
[ -x "$exe" ] && [ -x "$build/bench/quenvis_make_vowel_corpus" ] ||
  { echo "corpus-vs-praat: build quenvis-render and quenvis_make_vowel_corpus first" >&2; exit 1; }
for tool in praat python3; do
  command -v "$tool" >/dev/null || { echo "corpus-vs-praat: needs $tool" >&2; exit 1; }
done
per=${RECORDINGS:-4}
work=$(mktemp -d "${TMPDIR:-/var/tmp}/corpus-vs-praat.XXXXXX")
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT

"$build/bench/quenvis_make_vowel_corpus" "$work/corpus" "$per"
tail -n +2 "$work/corpus/manifest.csv" | while IFS=, read -r rec grid spk ceiling; do
  printf '%s\t%s\t%s\n' "$work/corpus/${rec%.wav}" "${rec%.wav}" "$ceiling"
done >"$work/list.txt"

cat >"$work/vowels.praat" <<'PRAAT'
form Vowels
  sentence list
  sentence out
endform
writeFileLine: out$, "recording,start_s,phone,f1_50,f2_50"
strings = Read Strings from raw text file: list$
n = Get number of strings
for i to n
  selectObject: strings
  line$ = Get string: i
  tab1 = index(line$, tab$)
  base$ = left$(line$, tab1 - 1)
  rest$ = mid$(line$, tab1 + 1, 10000)
  tab2 = index(rest$, tab$)
  name$ = left$(rest$, tab2 - 1)
  ceiling = number(mid$(rest$, tab2 + 1, 100))
  sound = Read from file: base$ + ".wav"
  formant = To Formant (burg): 0.01, 5, ceiling, 0.025, 50
  grid = Read from file: base$ + ".TextGrid"
  intervals = Get number of intervals: 2
  for k to intervals
    selectObject: grid
    label$ = Get label of interval: 2, k
    if label$ <> ""
      start = Get start time of interval: 2, k
      end = Get end time of interval: 2, k
      selectObject: formant
      f1 = Get value at time: 1, (start + end) / 2, "hertz", "linear"
      f2 = Get value at time: 2, (start + end) / 2, "hertz", "linear"
      appendFileLine: out$, name$, ".wav,", start, ",", label$, ",", f1, ",", f2
    endif
  endfor
  removeObject: sound, formant, grid
endfor
PRAAT

seconds=$(python3 -c "print($per * 4 * 12 * 0.4)")
t0=$(date +%s.%N)
/usr/bin/time -f '%U %S %M' -o "$work/time-q" \
  "$exe" corpus --quiet --labels arpabet "$work/corpus/manifest.csv" "$work/q"
t1=$(date +%s.%N)
/usr/bin/time -f '%U %S %M' -o "$work/time-p" praat --run "$work/vowels.praat" "$work/list.txt" "$work/praat.csv"
t2=$(date +%s.%N)
read -r qu qs qm <"$work/time-q"
read -r pu ps pm <"$work/time-p"
awk -v qu="$qu" -v qs="$qs" -v qm="$qm" -v pu="$pu" -v ps="$ps" -v pm="$pm" 'BEGIN {
  printf "CPU time: quenvis-render %.2f s, Praat %.2f s; peak memory %.1f MB and %.1f MB\n",
    qu + qs, pu + ps, qm / 1024, pm / 1024 }'
python3 - "$work/q/vowels.csv" "$work/praat.csv" "$work/corpus/truth.csv" "$t0" "$t1" "$t2" "$seconds" <<'PY'
import csv, statistics, sys
q, p, truth = sys.argv[1:4]
t0, t1, t2, seconds = map(float, sys.argv[4:])
key = lambda r: (r["recording"], round(float(r["start_s"]), 4))
ours = {key(r): r for r in csv.DictReader(open(q))}
theirs = {key(r): r for r in csv.DictReader(open(p))}
rows = {}
def value(r, k):
    try:
        v = float(r[k])
        return v if v > 0 else None
    except (KeyError, TypeError, ValueError):
        return None
for t in csv.DictReader(open(truth)):
    k = key(t)
    d = rows.setdefault(t["phone"], {"n": 0, "q1": [], "q2": [], "p1": [], "p2": [], "d1": [], "d2": []})
    d["n"] += 1
    for f, col in ((1, "f1"), (2, "f2")):
        true = float(t[col])
        a = value(ours.get(k, {}), "f%d_50" % f)
        b = value(theirs.get(k, {}), "f%d_50" % f)
        if a is not None: d["q%d" % f].append(abs(a - true))
        if b is not None: d["p%d" % f].append(abs(b - true))
        if a is not None and b is not None: d["d%d" % f].append(a - b)
print("%.0f s of audio: quenvis-render corpus %.2f s (%.0fx real time), Praat %.2f s (%.0fx): Praat takes %.1f times as long"
      % (seconds, t1 - t0, seconds / (t1 - t0), t2 - t1, seconds / (t2 - t1), (t2 - t1) / (t1 - t0)))
print("median |error| against the synthesis in Hz (tokens with a value / all), and median quenvis - Praat")
print("vowel   F1 quenvis    F1 Praat      F2 quenvis    F2 Praat      F1 q-P  F2 q-P")
med = lambda x: "%5.0f" % statistics.median(x) if x else "    -"
for v in sorted(rows):
    d = rows[v]
    cell = lambda x: "%s (%2d/%2d)" % (med(x), len(x), d["n"])
    print("%-6s  %s  %s  %s  %s  %s  %s" % (v, cell(d["q1"]), cell(d["p1"]), cell(d["q2"]), cell(d["p2"]),
                                             med(d["d1"]), med(d["d2"])))
PY
