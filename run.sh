#!/usr/bin/env bash
# Set-up, build, and start Quenvis. Without a display, runs the headless demo
# and writes a screenshot to demo.png.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  if [ -x scripts/demo.sh ]; then exec scripts/demo.sh "$PWD/demo.png"; fi
  echo "run: no display, and there is no demo yet"; exit 0
fi
if [ -x build/quenvis ]; then exec build/quenvis "$@"; fi
echo "run: built; there is no window to start yet"
