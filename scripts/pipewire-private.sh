#!/usr/bin/env bash
# A private PipeWire server (pipewire, wireplumber, pipewire-pulse) for the
# capture tests, reached by PulseAudio clients as the desktop's is: the same
# commands, sink and source as scripts/pulse-private.sh, which does the work.
export QUENVIS_SOUND_SERVER=pipewire
exec "$(dirname "$(readlink -f "$0")")/pulse-private.sh" "$@"
