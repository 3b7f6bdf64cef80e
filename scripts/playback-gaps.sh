#!/usr/bin/env bash
# Plays a tone through quenvis on a private sound server and X server, records
# the sink's monitor with parec, and counts the silences in what was heard.
#   playback-gaps.sh QUENVIS [SECONDS]   (default 60 s; run another build
#                                        beside it for a loaded machine)
# Prints the seconds heard, the gaps (silences of 1 ms or more inside the
# tone) and their total length.
set -euo pipefail
here=$(dirname "$(readlink -f "$0")")
if [ -z "${QUENVIS_PULSE_DIR:-}" ]; then
  exec "$here/xvfb-private.sh" run "$here/pulse-private.sh" run "$0" "$@"
fi
quenvis=$(readlink -f "${1:?usage: playback-gaps.sh QUENVIS [SECONDS]}")
secs=${2:-60}
work=$(mktemp -d "${TMPDIR:-/tmp}/quenvis-gaps.XXXXXX")
trap 'rm -rf "$work"' EXIT
sox -q -n -r 44100 -c 2 -b 16 "$work/tone.wav" synth "$secs" sine 440 vol 0.5

# Silence all along keeps the null sink awake, as a desktop's sink is.
pacat --playback --raw --format=s16le --rate=44100 --channels=2 --latency-msec=40 </dev/zero &
silence=$!
parec --device=quenvis_sink.monitor --raw --format=s16le --rate=44100 --channels=2 \
  --latency-msec=20 >"$work/heard.raw" &
recorder=$!
sleep 0.5
HOME=$work XDG_CONFIG_HOME=$work/config "$quenvis" "$work/tone.wav" >"$work/quenvis.log" 2>&1 &
player=$!
sleep "$(echo "$secs + 3" | bc)"
kill "$player" "$recorder" "$silence" 2>/dev/null || true
wait "$player" "$recorder" "$silence" 2>/dev/null || true

python3 - "$work/heard.raw" <<'EOF' || { cat "$work/quenvis.log" >&2; exit 1; }
import array, sys
a = array.array('h')
with open(sys.argv[1], 'rb') as f:
    a.frombytes(f.read())
left = a[0::2]
loud = [i for i in range(len(left)) if abs(left[i]) > 8000]
if not loud:
    print("heard nothing"); sys.exit(1)
first, last = loud[0], loud[-1]
gaps, quiet, total = 0, 0, 0
for i in range(first, last + 1):
    if abs(left[i]) < 500:
        quiet += 1
    else:
        if quiet >= 44:
            gaps += 1
            total += quiet
        quiet = 0
print(f"heard {(last - first) / 44100:.2f} s, {gaps} gaps, {total / 44.1:.0f} ms of silence in them")
EOF
