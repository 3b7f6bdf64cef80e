#!/usr/bin/env bash
# Installs a Quenvis package in a clean Debian 12 root and runs it there:
#   chroot-test.sh DEB
#   chroot-test.sh prepare   only makes the bare Debian 12 root, if it is not
#                            cached yet (./test.sh does this while it builds)
# First, in a root holding only what the package's dependencies bring,
# dpkg -i (which fails on a missing dependency), --version of both programs,
# quenvis-render on a recording and quenvis on it without a display. Then, in
# a root that also has the demo's tools (X server, sound server, espeak-ng),
# the headless demo (scripts/demo.sh) on the installed program.
#
# The roots are made with mmdebstrap and kept as tar files in
# QUENVIS_CHROOT_CACHE (default ~/.cache/quenvis-chroot), keyed by the
# package's dependencies: only the first run, or one after the dependencies
# changed, needs the network. Needs root (chroot, mounts).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
prepare_only=false
if [ "${1:-}" = prepare ]; then
  prepare_only=true
else
  deb=$(readlink -f "${1:?usage: chroot-test.sh DEB | prepare}")
  [ -f "$deb" ] || { echo "chroot-test: no $deb" >&2; exit 1; }
fi
[ "$(id -u)" -eq 0 ] || { echo "chroot-test: needs root" >&2; exit 1; }
command -v mmdebstrap >/dev/null || { echo "chroot-test: mmdebstrap is not installed (scripts/setup.sh)" >&2; exit 1; }
cache=${QUENVIS_CHROOT_CACHE:-$HOME/.cache/quenvis-chroot}
mirror=${QUENVIS_CHROOT_MIRROR:-http://deb.debian.org/debian}
mkdir -p "$cache"
work=$(mktemp -d "${TMPDIR:-/tmp}/quenvis-chroot.XXXXXX")
trap 'rm -rf --one-file-system "$work"' EXIT
log=$work/log

# Runs a command in ROOT, its mounts private to it, gone when it ends.
in_root() {
  local root=$1; shift
  unshare --mount --propagation private -- bash -c '
    root=$1; shift
    mount -t proc proc "$root/proc"
    mount --rbind /dev "$root/dev"
    mount -t tmpfs tmpfs "$root/tmp"
    exec chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"' \
    in_root "$root" "$@"
}

unpack() { mkdir -p "$2"; tar -C "$2" -xf "$1"; }

# A root's tar made once: layer NAME from PARENT (or from nothing), then a
# command that adds to it.
layer() {
  local tarball=$1 parent=$2; shift 2
  [ -f "$tarball" ] && return 0
  local root=$work/build-layer
  rm -rf --one-file-system "$root"
  if [ -z "$parent" ]; then
    echo "chroot-test: making a Debian 12 root (network)"
    # unshare: its mounts live in a namespace of their own and cannot outlast it.
    mmdebstrap --quiet --variant=apt --mode=unshare bookworm "${tarball%.tar}.part.tar" "$mirror" >"$log" 2>&1 ||
      { cat "$log" >&2; echo "chroot-test: mmdebstrap failed (no network?)" >&2; exit 1; }
    mv "${tarball%.tar}.part.tar" "$tarball"
    return 0
  else
    unpack "$parent" "$root"
    cp /etc/resolv.conf "$root/etc/resolv.conf"
    cp "$deb" "$root/root/"
    in_root "$root" bash -c "$*" >"$log" 2>&1 ||
      { cat "$log" >&2; echo "chroot-test: could not make $(basename "$tarball")" >&2; exit 1; }
    rm -f "$root"/root/*.deb
  fi
  tar -C "$root" -cf "$tarball.part" . && mv "$tarball.part" "$tarball"
  rm -rf --one-file-system "$root"
}

base=$cache/bookworm-base.tar
if $prepare_only; then
  layer "$base" ""
  exit 0
fi

apt_get='DEBIAN_FRONTEND=noninteractive apt-get -y -q -o Dpkg::Use-Pty=0'
deps=$(dpkg-deb -f "$deb" Depends)
key=$(printf '%s\n' "$deps" | sha256sum | cut -c1-16)
tools="xvfb xauth xdotool x11-utils imagemagick pulseaudio pulseaudio-utils espeak-ng sox procps"
tools_key=$(printf '%s %s\n' "$key" "$tools" | sha256sum | cut -c1-16)

layer "$base" ""
# What the package pulls in, and nothing of its own: installed with apt
# (which fetches the dependencies), then removed.
layer "$cache/deps-$key.tar" "$base" \
  "$apt_get update && $apt_get install --no-install-recommends /root/$(basename "$deb") &&
   dpkg -r quenvis && apt-get clean && rm -rf /var/lib/apt/lists/*"
layer "$cache/demo-$tools_key.tar" "$cache/deps-$key.tar" \
  "$apt_get update && $apt_get install --no-install-recommends $tools &&
   apt-get clean && rm -rf /var/lib/apt/lists/*"
# Older layers of other dependencies go.
find "$cache" -maxdepth 1 \( -name 'deps-*.tar' ! -name "deps-$key.tar" -o \
  -name 'demo-*.tar' ! -name "demo-$tools_key.tar" \) -delete

# A recording: a harmonic tone at 220 Hz, which must come out voiced.
sox -q -n -r 44100 -c 1 -b 16 "$work/tone.wav" synth 2 sawtooth 220 vol 0.5

failed=0
check() { echo "chroot-test: $1"; }
fail() { echo "chroot-test: FAIL: $*" >&2; failed=1; }

echo "== the package in a root of its dependencies only"
root=$work/clean
unpack "$cache/deps-$key.tar" "$root"
cp "$deb" "$root/root/"
cp "$work/tone.wav" "$root/root/"
if in_root "$root" dpkg -i "/root/$(basename "$deb")" >"$log" 2>&1; then
  check "installed"
else
  cat "$log" >&2; fail "dpkg -i"
fi
for p in quenvis quenvis-render; do
  out=$(in_root "$root" "/usr/bin/$p" --version 2>&1) && [ "$out" = "$p $(dpkg-deb -f "$deb" Version)" ] ||
    fail "$p --version: $out"
done
if in_root "$root" quenvis-render --quiet /root/tone.wav /root/out >"$log" 2>&1; then
  for f in spectrum.png plot.png spectrogram.png peaks.csv formants.csv chart.png; do
    [ -s "$root/root/out/$f" ] || fail "quenvis-render wrote no $f"
  done
  # formants.csv: time, F0, ...; most blocks of a 220 Hz tone are voiced near 220 Hz.
  f0s=$(awk -F, 'NR > 1 && $3 != "" { n++; if ($3 > 210 && $3 < 230) good++ }
                 END { printf "%d %d", n, good }' "$root/root/out/formants.csv")
  read -r n good <<<"$f0s"
  [ "$n" -gt 30 ] && [ "$good" -ge $((n * 9 / 10)) ] ||
    fail "quenvis-render: $good of $n pitched blocks near 220 Hz"
  check "quenvis-render: $good of $n blocks at 220 Hz"
else
  cat "$log" >&2; fail "quenvis-render"
fi
# Without a sound server the program still opens and plays the recording.
status=0
in_root "$root" env QT_QPA_PLATFORM=offscreen HOME=/tmp timeout -s INT 4 quenvis --chart /root/tone.wav \
  >"$log" 2>&1 || status=$?
if [ $status -eq 0 ] || [ $status -eq 124 ] || [ $status -eq 130 ]; then
  check "quenvis ran offscreen ($status)"
else
  cat "$log" >&2; fail "quenvis offscreen: status $status"
fi
rm -rf --one-file-system "$root"

echo "== the headless demo on the installed program"
root=$work/demo
unpack "$cache/demo-$tools_key.tar" "$root"
cp "$deb" "$root/root/"
mkdir -p "$root/opt/quenvis-test"
cp "$here"/demo.sh "$here"/private-session.sh "$here"/pulse-private.sh "$here"/xvfb-private.sh \
  "$root/opt/quenvis-test/"
if in_root "$root" bash -c "dpkg -i /root/$(basename "$deb") >/dev/null &&
     cd /tmp && QUENVIS_BIN=/usr/bin/quenvis /opt/quenvis-test/demo.sh /root/demo.png" >"$log" 2>&1; then
  for f in demo.png demo-chart.png demo-takes.png; do
    [ -s "$root/root/$f" ] || fail "the demo wrote no $f"
  done
  check "demo: $(ls "$root/root"/demo*.png | xargs -n1 basename | tr '\n' ' ')"
else
  cat "$log" >&2; fail "the demo"
fi
exit $failed
