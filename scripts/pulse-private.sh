#!/usr/bin/env bash
# A private PulseAudio server for tests and the headless demo, isolated from
# any desktop sound server: its own runtime directory, socket and client config.
#
#   pulse-private.sh start DIR          start a server in DIR (created if needed)
#                                       and print the exports its clients need
#   pulse-private.sh stop DIR           stop the tone and the server of DIR
#   pulse-private.sh kill DIR           kill the server of DIR at once (SIGKILL),
#                                       as a crash would; the tone goes too
#   pulse-private.sh tone DIR [HZ] [S]  play a sine (default 1000 Hz, 600 s) into
#                                       the sink in the background; replaces a
#                                       tone already playing
#   pulse-private.sh load-source DIR NAME DESC
#                                       add a capture source NAME, described
#                                       DESC, that hears what the sink plays
#   pulse-private.sh unload-source DIR [NAME]
#                                       remove that source (default quenvis_mic)
#   pulse-private.sh run CMD [ARG...]   start a server in a fresh temporary DIR,
#                                       run CMD with the exports and with
#                                       QUENVIS_PULSE_DIR=DIR and
#                                       QUENVIS_PULSE_SCRIPT=this script, then
#                                       stop the server; exits with CMD's status
#
# The server has one sink, "quenvis_sink" (null, 44 100 Hz stereo), and one
# capture source, "quenvis_mic", a remap of the sink's monitor: Qt lists no
# monitor sources, so the remap is what capture programs see. Its description,
# which Qt shows as the device name, is "Quenvis test input" unless
# QUENVIS_PULSE_DESCRIPTION names it otherwise at start. Whatever is
# played into the sink comes out of the source.
#
# With QUENVIS_SOUND_SERVER=pipewire (scripts/pipewire-private.sh sets it),
# the server is PipeWire instead: pipewire, wireplumber and pipewire-pulse on
# a private session bus, which PulseAudio clients reach the same way, with
# the same sink and source. server.pid is then pipewire-pulse's, the process
# the clients talk to.
set -euo pipefail

script=$(readlink -f "$0")
sink=quenvis_sink
source=quenvis_mic
description=${QUENVIS_PULSE_DESCRIPTION:-Quenvis test input}
server=${QUENVIS_SOUND_SERVER:-pulseaudio}
case $server in pulseaudio|pipewire) ;; *) echo "pulse-private: unknown server $server" >&2; exit 2 ;; esac

usage() { sed -n '5,23p' "$script" | sed 's/^# \{0,1\}//' >&2; exit 2; }

exports() {
  local dir=$1
  echo "export PULSE_SERVER=unix:$dir/native"
  echo "export PULSE_RUNTIME_PATH=$dir/runtime"
  echo "export PULSE_STATE_PATH=$dir/state"
  echo "export PULSE_CLIENTCONFIG=$dir/client.conf"
  echo "export PULSE_COOKIE=$dir/cookie"
  if [ "$server" = pipewire ]; then
    # pw-cli and pw-dump find the PipeWire daemon here.
    echo "export PIPEWIRE_RUNTIME_DIR=$dir/runtime"
    echo "export QUENVIS_SOUND_SERVER=pipewire"
  fi
}


start() {
  local dir
  mkdir -p "$1"; dir=$(readlink -f "$1")
  if running "$dir/server.pid"; then echo "pulse-private: a server already runs in $dir" >&2; exit 1; fi
  mkdir -p "$dir/runtime" "$dir/state"
  chmod 700 "$dir/runtime" "$dir/state"
  # Clients of this server must never spawn a server of their own when it dies.
  printf 'autospawn = no\n' > "$dir/client.conf"
  eval "$(exports "$dir")"
  export XDG_RUNTIME_DIR=$dir/runtime HOME=$dir
  rm -f "$dir/native"
  if [ "$server" = pipewire ]; then
    start_pipewire "$dir"
  else
    # -n: no default script, so only the modules below are loaded.
    pulseaudio --daemonize=no --exit-idle-time=-1 --use-pid-file=no -n \
      --disable-shm=yes --log-target=file:"$dir/server.log" \
      --load="module-native-protocol-unix socket=$dir/native auth-anonymous=1" \
      --load="module-null-sink sink_name=$sink rate=44100 channels=2 sink_properties=device.description=Quenvis_test_sink" \
      --load="module-remap-source source_name=$source master=$sink.monitor channels=2 source_properties='device.description=\"$description\"'" \
      </dev/null >/dev/null 2>&1 &
    echo $! > "$dir/server.pid"
  fi
  local i
  for i in $(seq 100); do
    if pactl info >/dev/null 2>&1 && pactl list short sources 2>/dev/null | grep -q "$source"; then
      exports "$dir"; return 0
    fi
    running "$dir/server.pid" || break
    sleep 0.1
  done
  echo "pulse-private: the server did not come up; log in $dir/server.log" >&2
  stop "$dir"; exit 1
}

# PipeWire's three processes, each in the background with a pid file; the
# sink and the source are then made through pipewire-pulse, as pactl would.
start_pipewire() {
  local dir=$1 i
  export XDG_CONFIG_HOME=$dir/config XDG_STATE_HOME=$dir/state XDG_DATA_HOME=$dir/data
  # wireplumber needs a session bus; it must not be the desktop's.
  dbus-daemon --session --nofork --address="unix:path=$dir/bus" </dev/null >/dev/null 2>"$dir/bus.log" &
  echo $! > "$dir/bus.pid"
  export DBUS_SESSION_BUS_ADDRESS=unix:path=$dir/bus
  mkdir -p "$dir/config/pipewire/pipewire-pulse.conf.d"
  printf 'pulse.properties = { server.address = [ "unix:%s/native" ] }\n' "$dir" \
    > "$dir/config/pipewire/pipewire-pulse.conf.d/quenvis.conf"
  for i in $(seq 50); do [ -S "$dir/bus" ] && break; sleep 0.1; done
  pipewire </dev/null >/dev/null 2>"$dir/pipewire.log" &
  echo $! > "$dir/pipewire.pid"
  for i in $(seq 50); do [ -S "$dir/runtime/pipewire-0" ] && break; sleep 0.1; done
  wireplumber </dev/null >/dev/null 2>"$dir/wireplumber.log" &
  echo $! > "$dir/wireplumber.pid"
  pipewire-pulse </dev/null >/dev/null 2>"$dir/server.log" &
  echo $! > "$dir/server.pid"
  for i in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
  pactl load-module module-null-sink sink_name=$sink rate=44100 channels=2 \
    sink_properties=device.description=Quenvis_test_sink >/dev/null || return 0
  pactl load-module module-remap-source source_name=$source master=$sink.monitor channels=2 \
    "source_properties='device.description=\"$description\"'" >/dev/null || return 0
}

# True while a process of the pid file is running. A pid written as "-N"
# stands for session N, in which the tone pipeline runs. Zombies count as gone:
# they wait for a slow reaper and no longer hold anything.
running() {
  local id
  id=$(cat "$1" 2>/dev/null) || return 1
  if [[ $id == -* ]]; then
    ps -o stat= -s "${id#-}" 2>/dev/null | grep -qv '^Z'
  else
    ps -o stat= -p "$id" 2>/dev/null | grep -qv '^Z'
  fi
}

# Ends what a pid file names, waiting for it to go.
end_pid() {
  local pidfile=$1 sig=${2:-TERM} pid i
  [ -f "$pidfile" ] || return 0
  pid=$(cat "$pidfile")
  if running "$pidfile"; then
    kill -s "$sig" -- "$pid" 2>/dev/null || true
    for i in $(seq 50); do running "$pidfile" || break; sleep 0.1; done
    running "$pidfile" && kill -9 -- "$pid" 2>/dev/null
  fi
  rm -f "$pidfile"
}

stop() {
  local dir
  dir=$(readlink -f "$1")
  end_pid "$dir/tone.pid" KILL
  end_pid "$dir/server.pid" "${2:-TERM}"
  # PipeWire's other processes, when it is PipeWire.
  end_pid "$dir/wireplumber.pid" "${2:-TERM}"
  end_pid "$dir/pipewire.pid" "${2:-TERM}"
  end_pid "$dir/bus.pid" TERM
  rm -f "$dir/native" "$dir/bus"
}

tone() {
  local dir hz=${2:-1000} secs=${3:-600}
  dir=$(readlink -f "$1")
  end_pid "$dir/tone.pid"
  eval "$(exports "$dir")"
  export HOME=$dir
  # sox writes raw frames; pacat feeds them to the sink at the sink's pace.
  # Both run in a session of their own, so that stop ends the whole pipeline.
  setsid bash -c 'sox -q -n -t raw -r 44100 -e signed -b 16 -c 2 - synth "$1" sine "$2" vol 0.5 |
           exec pacat --playback --raw --format=s16le --rate=44100 --channels=2 --device="$3" --latency-msec=250' \
    tone "$secs" "$hz" "$sink" </dev/null >/dev/null 2>"$dir/tone.log" &
  echo "-$!" > "$dir/tone.pid"
}

load_source() {
  local dir
  dir=$(readlink -f "$1")
  eval "$(exports "$dir")"
  export HOME=$dir
  pactl load-module module-remap-source source_name="$2" master=$sink.monitor channels=2 \
    "source_properties='device.description=\"$3\"'" >/dev/null
}

unload_source() {
  local dir name=${2:-$source} module
  dir=$(readlink -f "$1")
  eval "$(exports "$dir")"
  export HOME=$dir
  module=$(pactl list short modules | awk -v n="source_name=$name" '{ for (i = 3; i <= NF; ++i) if ($i == n) print $1 }')
  [ -n "$module" ] || { echo "pulse-private: no source $name" >&2; exit 1; }
  pactl unload-module "$module"
}

run() {
  local dir status=0
  dir=$(mktemp -d "${TMPDIR:-/tmp}/quenvis-pulse.XXXXXX")
  trap 'stop "$dir"; rm -rf "$dir"' EXIT
  eval "$(start "$dir")"
  export QUENVIS_PULSE_DIR=$dir QUENVIS_PULSE_SCRIPT=$script
  "$@" || status=$?
  exit $status
}

[ $# -ge 1 ] || usage
cmd=$1; shift
case $cmd in
  start) [ $# -eq 1 ] || usage; start "$1" ;;
  stop)  [ $# -eq 1 ] || usage; stop "$1" ;;
  kill)  [ $# -eq 1 ] || usage; stop "$1" KILL ;;
  tone)  [ $# -ge 1 ] && [ $# -le 3 ] || usage; tone "$@" ;;
  load-source)   [ $# -eq 3 ] || usage; load_source "$@" ;;
  unload-source) [ $# -ge 1 ] && [ $# -le 2 ] || usage; unload_source "$@" ;;
  run)   [ $# -ge 1 ] || usage; run "$@" ;;
  *) usage ;;
esac
