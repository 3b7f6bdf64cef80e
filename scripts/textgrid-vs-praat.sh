#!/usr/bin/env bash
# Has Praat read the TextGrids we write: textgrid-vs-praat.sh [BUILD] [FILE...]
# With no FILE, the io tests write their grid of markers and selections
# (four points, one named selection) and Praat must count the same. Each
# FILE (a take's <stem>.TextGrid, say) is read and its tiers counted.
set -euo pipefail
build=${1:-build}
shift || true
command -v praat >/dev/null || { echo "praat is not installed" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/count.praat" <<'PRAAT'
form Count
  sentence file
endform
grid = Read from file: file$
tiers = Get number of tiers
writeInfoLine: "tiers ", tiers
for t to tiers
  name$ = Get tier name: t
  if do ("Is interval tier...", t)
    n = Get number of intervals: t
    appendInfoLine: name$, " intervals ", n
  else
    n = Get number of points: t
    appendInfoLine: name$, " points ", n
  endif
endfor
PRAAT
if [ $# -eq 0 ]; then
  QUENVIS_TEXTGRID_OUT="$work/ours.TextGrid" "$build/tests/io/quenvis_io_tests" \
    --gtest_filter='TextGridWriting.WrittenGridReadsBack*' >/dev/null
  got=$(praat --run "$work/count.praat" "$work/ours.TextGrid")
  echo "$got"
  want=$'tiers 2\nmarkers points 4\nselections intervals 3'
  [ "$got" = "$want" ] || { echo "Praat read something else; expected:"; echo "$want"; exit 1; } >&2
  echo "Praat reads our TextGrid as written"
  exit 0
fi
for f in "$@"; do
  echo "== $f"
  praat --run "$work/count.praat" "$(realpath "$f")"
done
