#!/usr/bin/env bash
# A private X server for tests and the headless demo.
#   xvfb-private.sh start DIR   starts Xvfb, prints "export DISPLAY=:N"
#   xvfb-private.sh stop DIR    stops the server started with DIR
#   xvfb-private.sh run CMD...  runs CMD with DISPLAY set to a fresh server,
#                               then stops it; exits with CMD's status
set -euo pipefail
script=$(readlink -f "$0")
cmd=${1:?usage: xvfb-private.sh start|stop DIR | run CMD...}
if [ "$cmd" = run ]; then
  shift
  dir=$(mktemp -d "${TMPDIR:-/tmp}/quenvis-xvfb.XXXXXX")
  trap '"$script" stop "$dir" >/dev/null 2>&1 || true; rm -rf "$dir"' EXIT
  eval "$("$script" start "$dir")"
  status=0
  "$@" || status=$?
  exit $status
fi
dir=${2:?usage: xvfb-private.sh start|stop DIR}
mkdir -p "$dir"

case $cmd in
start)
  # -displayfd lets Xvfb pick a free display number itself.
  exec 3> "$dir/xvfb.display"
  Xvfb -displayfd 3 -screen 0 1600x1200x24 -nolisten tcp -noreset >"$dir/xvfb.log" 2>&1 &
  echo $! > "$dir/xvfb.pid"
  exec 3>&-
  for _ in $(seq 100); do
    [ -s "$dir/xvfb.display" ] && break
    kill -0 "$(cat "$dir/xvfb.pid")" 2>/dev/null || { cat "$dir/xvfb.log" >&2; exit 1; }
    sleep 0.1
  done
  [ -s "$dir/xvfb.display" ] || { echo "xvfb: no display after 10 s" >&2; exit 1; }
  echo "export DISPLAY=:$(head -n1 "$dir/xvfb.display")"
  ;;
stop)
  if [ -f "$dir/xvfb.pid" ]; then
    pid=$(cat "$dir/xvfb.pid")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
    rm -f "$dir/xvfb.pid" "$dir/xvfb.display"
  fi
  ;;
*) echo "usage: xvfb-private.sh start|stop DIR | run CMD..." >&2; exit 2 ;;
esac
