#!/usr/bin/env bash
# Measures what Quenvis costs while it runs: a private X server and a private
# PulseAudio server whose only microphone hears a synthesised voice saying
# vowels in a loop; Quenvis captures it with its vowel chart and spectrogram
# open for MINUTES (default 5). Reports the program's share of one core (from
# /proc/PID/stat), the block rate the caption shows against the 21.53 blocks
# per second that capture delivers, and the machine's load.
#   cpu.sh [MINUTES] [--no-chart] [--record] [--compare TAKE] [--notes]
#   --no-chart  without the chart window
#   --record    also presses R in the chart (record a take) once capture runs
#   --compare   shows TAKE (a recording or its .formants.csv) behind the trail
#   --notes     note lines and a target pitch on the spectrogram
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$here")
minutes=5; chart=1; record=0; compare=; notes=0
usage="usage: cpu.sh [MINUTES] [--no-chart] [--record] [--compare TAKE] [--notes]"
while [ $# -gt 0 ]; do
  case $1 in
  --no-chart) chart=0 ;;
  --record) record=1 ;;
  --notes) notes=1 ;;
  --compare) [ $# -ge 2 ] || { echo "$usage" >&2; exit 2; }; compare=$(readlink -f "$2"); shift ;;
  *[!0-9.]*|'') echo "$usage" >&2; exit 2 ;;
  *) minutes=$1 ;;
  esac
  shift
done
app=${QUENVIS_BIN:-$top/build/quenvis}
[ -x "$app" ] || { echo "cpu: $app is not built" >&2; exit 1; }

. "$here/private-session.sh"
session_begin cpu "Quenvis measured microphone"
session_voice
# The program's settings and takes stay in the measurement's own folder.
session_home
args=()
[ "$chart" = 1 ] && args+=(--chart)
[ "$chart" = 1 ] && [ -n "$compare" ] && args+=(--compare "$compare")
if [ "$notes" = 1 ]; then
  mkdir -p "$HOME/.config/Quenvis"
  printf '[chart]\nnoteGrid=true\ntargetNote=57\n' >>"$HOME/.config/Quenvis/Quenvis.conf"
fi
"$app" "${args[@]}" >"$work/app.log" 2>&1 &
app_pid=$!
wid=$(timeout 20 xdotool search --sync --onlyvisible --name '^Quenvis par' | head -n1)
[ -n "$wid" ] || { echo "cpu: the window did not appear" >&2; cat "$work/app.log" >&2; exit 1; }
chart_wid=
if [ "$chart" = 1 ]; then
  chart_wid=$(timeout 20 xdotool search --sync --onlyvisible --name '^Quenvis vowel chart' | head -n1)
  [ -n "$chart_wid" ] || { echo "cpu: the chart did not appear" >&2; exit 1; }
  # Side by side, so that both are fully drawn (there is no window manager).
  xdotool windowmove "$chart_wid" 760 0
fi
sleep 1
# Start: the middle of the button at (8, 8) of the command panel at (0, 272).
xdotool windowraise "$wid"
xdotool mousemove --window "$wid" 32 292 click 1
sleep 3
if [ "$record" = 1 ] && [ -n "$chart_wid" ]; then
  xdotool windowfocus --sync "$chart_wid" key r || true
  sleep 1
fi

ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$app_pid/stat"; }
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
t0=$(date +%s.%N); c0=$(cpu_ticks)
end=$(awk -v t="$t0" -v m="$minutes" 'BEGIN { printf "%.3f", t + m * 60 }')
rates=()
# The caption's rate, every ten seconds (it is refreshed every 81 blocks).
while awk -v e="$end" -v n="$(date +%s.%N)" 'BEGIN { exit !(n < e) }'; do
  sleep 10
  kill -0 "$app_pid" 2>/dev/null || { echo "cpu: the program ended" >&2; cat "$work/app.log" >&2; exit 1; }
  r=$(xdotool getwindowname "$wid" | sed -n 's/.* \([0-9.,]*\) img\/s$/\1/p' | tr , .)
  [ -n "$r" ] && rates+=("$r")
done
t1=$(date +%s.%N); c1=$(cpu_ticks)
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

awk -v c0="$c0" -v c1="$c1" -v t0="$t0" -v t1="$t1" -v hz="$ticks" \
    -v chart="$chart" -v record="$record" -v compare="${compare:+yes}" -v rates="${rates[*]:-}" \
    -v lb="$load_before" -v la="$load_after" -v cores="$(nproc)" 'BEGIN {
  secs = t1 - t0
  printf "cpu: %.2f %% of one core over %.0f s (chart %s, recording %s, comparison %s)\n",
         100 * (c1 - c0) / hz / secs, secs, chart ? "open" : "closed", record ? "pressed" : "off",
         compare ? "shown" : "none"
  n = split(rates, r, " "); lo = 1e9; hi = 0; sum = 0
  for (i = 1; i <= n; i++) { sum += r[i]; if (r[i] < lo) lo = r[i]; if (r[i] > hi) hi = r[i] }
  if (n) printf "blocks: caption %.2f blocks/s on average (%d readings, %.2f to %.2f); capture delivers %.2f, about %.0f blocks in %.0f s\n",
                sum / n, n, lo, hi, 44100 / 2048, secs * 44100 / 2048, secs
  else print "blocks: the caption showed no rate"
  printf "load: %s before, %s after (%d cores)\n", lb, la, cores
}'
