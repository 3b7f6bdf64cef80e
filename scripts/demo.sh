#!/usr/bin/env bash
# Headless demo: a private X server and a private PulseAudio server whose only
# microphone hears a synthesised voice saying vowels in a loop. Starts Quenvis
# with its vowel chart, presses Start, and after a few seconds writes a
# screenshot of each window (the chart's beside the main one, "-chart" added).
# Then records a take (R in the chart) with two named markers (M), starts
# Quenvis again on that take and writes a screenshot of the chart playing it
# ("-takes" added), its markers on the timeline and the spectrogram, and one
# of the chart playing it again compared with itself ("-compare" added): the
# take's vowels, their means and spreads, behind its trail.
#   demo.sh [SCREENSHOT]   (default: ./demo.png; the chart in ./demo-chart.png,
#                           the take playing in ./demo-takes.png, compared in
#                           ./demo-compare.png)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$here")
shot=$(readlink -f "${1:-demo.png}")
chart_shot=${shot%.png}-chart.png
takes_shot=${shot%.png}-takes.png
compare_shot=${shot%.png}-compare.png
app=${QUENVIS_BIN:-$top/build/quenvis}
[ -x "$app" ] || { echo "demo: $app is not built" >&2; exit 1; }

echo "demo: starting a private X server and sound server"
. "$here/private-session.sh"
session_begin demo "Quenvis demo microphone"
session_voice

echo "demo: starting $app"
# The program's settings and takes stay in the demo's own folder.
session_home
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
sleep 1.2
xdotool windowfocus --sync "$chart" key m
sleep 0.3
xdotool type --delay 30 "breath" && xdotool key Return
sleep 1.2
xdotool windowfocus --sync "$chart" key m
sleep 0.3
xdotool type --delay 30 "onset" && xdotool key Return
sleep 1.3
xdotool windowfocus --sync "$chart" key r
sleep 1
take=$(ls "$HOME"/Music/quenvis-*.flac 2>/dev/null | head -n1)
[ -n "$take" ] || { echo "demo: no take was recorded" >&2; cat "$work/app.log" >&2; exit 1; }
[ -f "${take%.flac}.TextGrid" ] || echo "demo: the take's markers were not written" >&2
xdotool windowfocus "$wid" key ctrl+q >/dev/null 2>&1 || true
wait "$app_pid" 2>/dev/null || true
app_pid=

echo "demo: playing $(basename "$take")"
kill -- "-$player_pid" 2>/dev/null || true
player_pid=
"$app" --chart "$take" >>"$work/app.log" 2>&1 &
app_pid=$!
chart=$(timeout 20 xdotool search --sync --onlyvisible --name 'Quenvis vowel chart$' | head -n1)
[ -n "$chart" ] || { echo "demo: the chart did not appear" >&2; cat "$work/app.log" >&2; exit 1; }
sleep 2.5
xdotool windowraise "$chart"
sleep 0.3
import -window "$chart" "$takes_shot"
wid=$(xdotool search --onlyvisible --name '^Quenvis par' | head -n1)
[ -n "$wid" ] && xdotool windowfocus "$wid" key ctrl+q >/dev/null 2>&1 || true
wait "$app_pid" 2>/dev/null || true
app_pid=

echo "demo: playing $(basename "$take") compared with itself"
"$app" --compare "$take" "$take" >>"$work/app.log" 2>&1 &
app_pid=$!
chart=$(timeout 20 xdotool search --sync --onlyvisible --name 'Quenvis vowel chart$' | head -n1)
[ -n "$chart" ] || { echo "demo: the chart did not appear" >&2; cat "$work/app.log" >&2; exit 1; }
sleep 2.5
xdotool windowraise "$chart"
sleep 0.3
# The toolbar and the plane: what the comparison is about.
import -window "$chart" -crop 800x600+0+0 +repage "$compare_shot"
wid=$(xdotool search --onlyvisible --name '^Quenvis par' | head -n1)
[ -n "$wid" ] && xdotool windowfocus "$wid" key ctrl+q >/dev/null 2>&1 || true
echo "demo: screenshots written to $shot, $chart_shot, $takes_shot and $compare_shot"
