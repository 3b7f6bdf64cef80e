#!/usr/bin/env bash
# End to end, in a real X server with a real sound server: start Quenvis, pick
# the test input, press Start, and check on a screenshot that a two-tone
# signal draws its trace peaks, both zone markers and the plot mark where they
# belong; then Stop, and close the window.
#   window_e2e.sh QUENVIS_BINARY
set -euo pipefail
app=$(readlink -f "$1")
scripts=$(cd "$(dirname "$0")/../../scripts" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/quenvis-e2e.XXXXXX")
app_pid=; tone_pid=
cleanup() {
  [ -n "$app_pid" ] && kill -9 "$app_pid" 2>/dev/null || true
  [ -n "$tone_pid" ] && kill -- "-$tone_pid" 2>/dev/null || true
  "$scripts/pulse-private.sh" stop "$work/pulse" >/dev/null 2>&1 || true
  "$scripts/xvfb-private.sh" stop "$work/x" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; [ -f "$work/app.log" ] && tail -n 20 "$work/app.log" >&2; exit 1; }

eval "$("$scripts/xvfb-private.sh" start "$work/x")"
eval "$("$scripts/pulse-private.sh" start "$work/pulse")"

# Bin 15 (zone 1) on the left channel, bin 100 (zone 2) on the right: the mono
# mix holds both. Frequencies are exact bin centres: b * 44100 / 4096.
setsid bash -c 'sox -q -n -t raw -r 44100 -e signed -b 16 -c 2 - synth 120 sine 161.4990234375 sine 1076.66015625 vol 0.5 |
  exec pacat --playback --raw --format=s16le --rate=44100 --channels=2 --device=quenvis_sink --latency-msec=50' \
  </dev/null >/dev/null 2>&1 &
tone_pid=$!

"$app" >"$work/app.log" 2>&1 &
app_pid=$!
wid=$(timeout 20 xdotool search --sync --onlyvisible --name '^Quenvis par ZR' | head -n1) || true
[ -n "$wid" ] || fail "the window did not appear"
sleep 0.5

# Pick the test input in the device list, then press Start: real clicks.
xdotool mousemove --window "$wid" 112 338 click 1
sleep 0.5
xdotool key Home Return
sleep 0.3
xdotool mousemove --window "$wid" 32 292 click 1
sleep 2
import -window "$wid" "$work/shot.png"
convert "$work/shot.png" -depth 8 txt:- | awk -F'[,:() ]+' '/^[0-9]/ { print $1, $2, $3, $4, $5 }' > "$work/pixels"

# x y r g b -> queries over the screenshot.
q() { awk "$1" "$work/pixels"; }

# Trace: the topmost opaque-green pixel left of x 100 and in 150..250.
read -r peak1_x peak1_y < <(q '$3 < 60 && $4 > 200 && $5 < 60 && $2 < 256 && $1 < 100 { if (!n || $2 < y) { n = 1; y = $2; x = $1 } } END { print x, y }')
read -r peak2_x peak2_y < <(q '$3 < 60 && $4 > 200 && $5 < 60 && $2 < 256 && $1 >= 150 && $1 < 250 { if (!n || $2 < y) { n = 1; y = $2; x = $1 } } END { print x, y }')
echo "trace peaks at ($peak1_x, $peak1_y) and ($peak2_x, $peak2_y)"
[ "$peak1_x" -ge 29 ] && [ "$peak1_x" -le 31 ] || fail "zone 1 trace peak at x $peak1_x, expected 30"
[ "$peak2_x" -ge 199 ] && [ "$peak2_x" -le 201 ] || fail "zone 2 trace peak at x $peak2_x, expected 200"
[ "$peak1_y" -lt 200 ] && [ "$peak2_y" -lt 200 ] || fail "trace peaks too low: $peak1_y, $peak2_y"

# Markers: 11 x 11 outlines centred on the peaks; their left and right edges
# are the only red (zone 1) or blue (zone 2) pixels in those columns above
# the threshold line.
edge() {  # column, colour test -> first and last row of matching pixels above row 245
  q "\$1 == $1 && \$2 < 245 && ($2) { if (!n) f = \$2; n++; l = \$2 } END { print n + 0, f, l }"
}
red='$3 > 90 && $4 < 110 && $5 < 60'
blue='$5 > 90 && $3 < 60 && $4 < 110'
for row in "25 $red $peak1_y" "35 $red $peak1_y" "195 $blue $peak2_y" "205 $blue $peak2_y"; do
  col=${row%% *}; rest=${row#* }; centre=${rest##* }; test=${rest% *}
  read -r n first last < <(edge "$col" "$test")
  [ "$n" -ge 9 ] || fail "marker edge at column $col: $n pixels"
  [ "$first" -ge $((centre - 6)) ] && [ "$last" -le $((centre + 6)) ] ||
    fail "marker edge at column $col spans rows $first..$last, expected about $((centre - 5))..$((centre + 5))"
done

# Plot mark: N = Round(5 * 255 / 69) = 18, M = Round(255 - 44 * 255 / 153) = 182,
# an outline over columns 13 and 23, rows 177 and 187, in all three plots.
for left in 241 498 755; do
  for p in "13 182" "23 182" "18 177" "18 187"; do
    x=$((left + ${p% *})); y=$((257 + ${p#* }))
    hit=$(q "\$1 == $x && \$2 == $y && \$3 > 200 && \$4 > 200 && \$5 < 80 { print 1 }")
    [ "$hit" = 1 ] || fail "no yellow plot mark at ($x, $y)"
  done
  stray=$(q "\$1 >= $left && \$1 < $left + 256 && \$2 >= 257 && \$2 < 513 && \$3 > 200 && \$4 > 200 && \$5 < 80 && (\$1 < $left + 10 || \$1 > $left + 26 || \$2 < 257 + 174 || \$2 > 257 + 190) { n++ } END { print n + 0 }")
  [ "$stray" -eq 0 ] || fail "$stray yellow pixels away from the plot mark at x $left"
done

# After 81 blocks the caption shows the block rate.
sleep 3
title=$(xdotool getwindowname "$wid")
echo "caption while capturing: $title"
[[ $title =~ ^Quenvis\ par\ ZR\ ([0-9]+)\.[0-9][0-9]\ img/s$ ]] || fail "caption '$title'"
rate=${BASH_REMATCH[1]}
[ "$rate" -ge 19 ] && [ "$rate" -le 23 ] || fail "block rate $rate"

xdotool mousemove --window "$wid" 84 292 click 1
sleep 0.5
title=$(xdotool getwindowname "$wid")
[ "$title" = "Quenvis par ZR ? img/s" ] || fail "caption after Stop '$title'"

# Closing the window ends the program, cleanly.
xdotool key ctrl+q
for _ in $(seq 100); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$app_pid" 2>/dev/null && fail "the program still runs 10 s after its window was closed"
status=0; wait "$app_pid" || status=$?
app_pid=
[ "$status" -eq 0 ] || fail "the program ended with status $status"
echo "window end to end: passed"
