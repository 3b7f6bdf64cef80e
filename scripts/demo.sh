#!/usr/bin/env bash
# Headless demo: a private X server and a private PulseAudio server whose only
# microphone hears a synthesised voice saying vowels in a loop. Starts Quenvis
# with its vowel chart, presses Start, and after a few seconds writes a
# screenshot of each window (the chart's beside the main one, "-chart" added).
# Then records a take (R in the chart), starts Quenvis again on that take and
# writes a screenshot of the chart playing it ("-takes" added).
#   demo.sh [SCREENSHOT]   (default: ./demo.png; the chart in ./demo-chart.png,
#                           the take playing in ./demo-takes.png)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$here")
shot=$(readlink -f "${1:-demo.png}")
chart_shot=${shot%.png}-chart.png
takes_shot=${shot%.png}-takes.png
app=${QUENVIS_BIN:-$top/build/quenvis}
[ -x "$app" ] || { echo "demo: $app is not built" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/quenvis-demo.XXXXXX")
app_pid=; voice_pid=
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$voice_pid" ] && kill -- "-$voice_pid" 2>/dev/null || true
  "$here/pulse-private.sh" stop "$work/pulse" >/dev/null 2>&1 || true
  "$here/xvfb-private.sh" stop "$work/x" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

echo "demo: starting a private X server and sound server"
eval "$("$here/xvfb-private.sh" start "$work/x")"
eval "$(QUENVIS_PULSE_DESCRIPTION="Quenvis demo microphone" "$here/pulse-private.sh" start "$work/pulse")"

# Sustained vowels, slowly, so each one holds for a few blocks.
espeak-ng -v en -s 90 -g 12 -w "$work/voice.wav" \
  "aaah. eeeh. eeee. ooooh. ooooo. aaah. eeeh. eeee. ooooh. ooooo." 2>/dev/null
setsid bash -c 'while :; do paplay --device=quenvis_sink --volume=41000 "$1" || exit 0; done' voice "$work/voice.wav" \
  </dev/null >/dev/null 2>&1 &
voice_pid=$!

echo "demo: starting $app"
# The program's settings and takes stay in the demo's own folder.
mkdir -p "$work/home"
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config
"$app" --chart >"$work/app.log" 2>&1 &
app_pid=$!
wid=$(timeout 20 xdotool search --sync --onlyvisible --name '^Quenvis par' | head -n1)
[ -n "$wid" ] || { echo "demo: the window did not appear" >&2; cat "$work/app.log" >&2; exit 1; }
chart=$(timeout 20 xdotool search --sync --onlyvisible --name '^Quenvis vowel chart' | head -n1)
[ -n "$chart" ] || { echo "demo: the chart did not appear" >&2; cat "$work/app.log" >&2; exit 1; }
sleep 1
# Start sits at (8, 8) in the command panel at (0, 272): its middle is (32, 292).
# The chart may lie over it: the main window goes on top first.
xdotool windowraise "$wid"
sleep 0.3
xdotool mousemove --window "$wid" 32 292 click 1
sleep 5
# Without a window manager the windows may overlap: raise each before its picture.
xdotool windowraise "$chart"
sleep 0.3
import -window "$chart" "$chart_shot"
xdotool windowraise "$wid"
sleep 0.3
import -window "$wid" "$shot"

echo "demo: recording a take"
xdotool windowraise "$chart"
xdotool windowfocus --sync "$chart" key r
sleep 4
xdotool windowfocus --sync "$chart" key r
sleep 1
take=$(ls "$HOME"/Music/quenvis-*.flac 2>/dev/null | head -n1)
[ -n "$take" ] || { echo "demo: no take was recorded" >&2; cat "$work/app.log" >&2; exit 1; }
xdotool windowfocus "$wid" key ctrl+q >/dev/null 2>&1 || true
wait "$app_pid" 2>/dev/null || true
app_pid=

echo "demo: playing $(basename "$take")"
kill -- "-$voice_pid" 2>/dev/null || true
voice_pid=
"$app" --chart "$take" >>"$work/app.log" 2>&1 &
app_pid=$!
chart=$(timeout 20 xdotool search --sync --onlyvisible --name '^Quenvis vowel chart' | head -n1)
[ -n "$chart" ] || { echo "demo: the chart did not appear" >&2; cat "$work/app.log" >&2; exit 1; }
sleep 2.5
xdotool windowraise "$chart"
sleep 0.3
import -window "$chart" "$takes_shot"
wid=$(xdotool search --onlyvisible --name '^Quenvis par' | head -n1)
[ -n "$wid" ] && xdotool windowfocus "$wid" key ctrl+q >/dev/null 2>&1 || true
echo "demo: screenshots written to $shot, $chart_shot and $takes_shot"
