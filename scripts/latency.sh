#!/usr/bin/env bash
# Measures how soon sound shows, in a private X server and a private PulseAudio
# server, with each capture service in turn (native, then QUENVIS_AUDIO=qt):
#
#   sound to picture   a 1000 Hz tone plays muted; it is unmuted at a known
#                      moment, and the window is polled for the first green
#                      trace pixel of the tone's peak;
#   Start to picture   with the tone on and capture stopped, Start is clicked
#                      and the window polled for the first new picture.
#
# Prints min/median/max in ms over TRIES tries of each (default 20).
#   latency.sh [BUILD_DIR] [TRIES]
set -euo pipefail
scripts=$(cd "$(dirname "$0")" && pwd)
build=$(readlink -f "${1:-$scripts/../build}")
tries=${2:-20}
app=$build/quenvis
[ -x "$app" ] || { echo "latency: no $app; build first" >&2; exit 1; }

. "$scripts/private-session.sh"
session_begin latency

# The tone, playing all along with little buffering, muted to begin with.
setsid bash -c 'sox -q -n -t raw -r 44100 -e signed -b 16 -c 2 - synth 3600 sine 1000 vol 0.5 |
  exec pacat --playback --raw --format=s16le --rate=44100 --channels=2 --device=quenvis_sink \
       --latency-msec=20 --client-name=quenvis-latency-tone' </dev/null >/dev/null 2>&1 &
player_pid=$!
for _ in $(seq 50); do
  tone_input=$(pactl list short sink-inputs | awk '{ print $1; exit }')
  [ -n "$tone_input" ] && break
  sleep 0.1
done
[ -n "$tone_input" ] || { echo "latency: the tone did not start" >&2; exit 1; }

measure() {
  local label=$1; shift
  env "$@" "$app" >"$work/app.log" 2>&1 &
  app_pid=$!
  local wid
  wid=$(timeout 20 xdotool search --sync --onlyvisible --name '^Quenvis par ZR' | head -n1)
  sleep 0.5
  # Pick the test input, the first entry.
  xdotool mousemove --window "$wid" 112 338 click 1
  sleep 0.3
  xdotool key Home Return
  sleep 0.3
  python3 - "$label" "$wid" "$tone_input" "$tries" <<'EOF'
import ctypes, statistics, subprocess, sys, time

label, wid, tone, tries = sys.argv[1], int(sys.argv[2]), sys.argv[3], int(sys.argv[4])
x11 = ctypes.CDLL("libX11.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XGetImage.restype = ctypes.c_void_p
x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                          ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
x11.XFree.argtypes = [ctypes.c_void_p]
x11.XFlush.argtypes = [ctypes.c_void_p]
xtst = ctypes.CDLL("libXtst.so.6")
xtst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]

class XImage(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.c_void_p), ("byte_order", ctypes.c_int),
                ("bitmap_unit", ctypes.c_int), ("bitmap_bit_order", ctypes.c_int),
                ("bitmap_pad", ctypes.c_int), ("depth", ctypes.c_int),
                ("bytes_per_line", ctypes.c_int), ("bits_per_pixel", ctypes.c_int)]

dpy = x11.XOpenDisplay(None)
ZPixmap, AllPlanes = 2, 0xFFFFFFFF
# The 1000 Hz tone peaks at bin 93, drawn at x = 186 with the default
# frequency range; its top lies in the upper rows, where silence draws nothing.
X0, Y0, W, H = 178, 0, 16, 200

def grab():
    p = x11.XGetImage(dpy, wid, X0, Y0, W, H, AllPlanes, ZPixmap)
    img = XImage.from_address(p)
    data = ctypes.string_at(img.data, img.bytes_per_line * img.height)
    bpl = img.bytes_per_line
    x11.XFree(ctypes.c_void_p(img.data)); x11.XFree(ctypes.c_void_p(p))
    return data, bpl

def green(data, bpl):
    for y in range(H):
        row = data[y * bpl: y * bpl + 4 * W]
        for x in range(0, 4 * W, 4):
            if row[x] < 64 and row[x + 1] > 192 and row[x + 2] < 64:
                return True
    return False

def wait(cond, limit=3.0):
    t0 = time.monotonic()
    while time.monotonic() - t0 < limit:
        if cond():
            return time.monotonic()
        time.sleep(0.001)
    return None

def click(x, y):
    # The pointer is moved first; the button press and release go out at once
    # (xdotool's own click takes about 100 ms to return).
    subprocess.run(["xdotool", "mousemove", "--window", str(wid), str(x), str(y)], check=True)
    time.sleep(0.05)
    t0 = time.monotonic()
    xtst.XTestFakeButtonEvent(dpy, 1, 1, 0)
    xtst.XTestFakeButtonEvent(dpy, 1, 0, 0)
    x11.XFlush(dpy)
    return t0

def mute(on):
    subprocess.run(["pactl", "set-sink-input-mute", tone, "1" if on else "0"], check=True)

def stats(name, values):
    if not values:
        print(f"{label}: {name}: no result"); return
    print(f"{label}: {name} over {len(values)} tries: min {min(values):.0f} ms, "
          f"median {statistics.median(values):.0f} ms, max {max(values):.0f} ms")

START, STOP = (32, 292), (84, 292)
mute(True)
click(*START)
time.sleep(2.5)  # past the test sink's slow first delivery
sound, start = [], []
for _ in range(tries):
    mute(True)
    time.sleep(1.5)  # the trail fades away
    if green(*grab()):
        continue
    mute(False)
    t0 = time.monotonic()
    t1 = wait(lambda: green(*grab()))
    if t1 is not None:
        sound.append(1000 * (t1 - t0))
for _ in range(tries):
    click(*STOP)
    time.sleep(0.5)
    before = grab()[0]
    t0 = click(*START)
    t1 = wait(lambda: grab()[0] != before)
    if t1 is not None:
        start.append(1000 * (t1 - t0))
    time.sleep(1.0)
stats("sound to picture", sound)
stats("Start to picture", start)
EOF
  kill "$app_pid" 2>/dev/null || true
  wait "$app_pid" 2>/dev/null || true
  app_pid=
}

measure native QUENVIS_AUDIO=
measure qt QUENVIS_AUDIO=qt
