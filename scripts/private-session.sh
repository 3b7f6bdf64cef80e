# Sourced by the scripts that run Quenvis away from the desktop: a private X
# server and a private PulseAudio server in a folder of their own, removed
# with whatever still runs when the script ends.
#   session_begin NAME [MICROPHONE]  makes $work, starts both servers (the
#                                    microphone under that description)
#   session_voice                    a synthesised voice saying vowels into
#                                    the microphone, in a loop
#   session_home                     the program's settings and takes in $work
# $app_pid and $player_pid, when set, are ended with the session.
session_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
app_pid=; player_pid=; work=

session_end() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$player_pid" ] && kill -- "-$player_pid" 2>/dev/null || true
  if [ -n "$work" ]; then
    "$session_dir/pulse-private.sh" stop "$work/pulse" >/dev/null 2>&1 || true
    "$session_dir/xvfb-private.sh" stop "$work/x" >/dev/null 2>&1 || true
    rm -rf "$work"
  fi
}

session_begin() {
  work=$(mktemp -d "${TMPDIR:-/tmp}/quenvis-$1.XXXXXX")
  trap session_end EXIT
  eval "$("$session_dir/xvfb-private.sh" start "$work/x")"
  eval "$(QUENVIS_PULSE_DESCRIPTION="${2:-}" "$session_dir/pulse-private.sh" start "$work/pulse")"
}

session_voice() {
  # Sustained vowels, slowly, so each one holds for a few blocks.
  espeak-ng -v en -s 90 -g 12 -w "$work/voice.wav" \
    "aaah. eeeh. eeee. ooooh. ooooo. aaah. eeeh. eeee. ooooh. ooooo." 2>/dev/null
  setsid bash -c 'while :; do paplay --device=quenvis_sink --volume=41000 "$1" || exit 0; done' \
    voice "$work/voice.wav" </dev/null >/dev/null 2>&1 &
  player_pid=$!
}

session_home() {
  mkdir -p "$work/home"
  export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config
}
