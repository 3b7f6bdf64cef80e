#!/usr/bin/env bash
# Installs the Debian packages that building, testing and the demo need,
# only those that are missing. Safe to run again.
#   setup.sh --fuzz   also installs clang and its libFuzzer runtime, which only
#                     the fuzz targets need (scripts/fuzz.sh, ./test.sh).
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-multimedia-dev libqt6multimedia6 qt6-svg-dev
  libgtest-dev libgmock-dev libbenchmark-dev libfftw3-dev libsndfile1-dev libsoxr-dev libflac-dev
  libpulse-dev pulseaudio pulseaudio-utils procps
  xvfb xauth xdotool x11-utils imagemagick fonts-dejavu-core
  espeak-ng sox time libeigen3-dev python3
  # Recorded speech for render.SpeechReference (about 9 MB): channel names,
  # and telephone prompts by women in three languages and an Italian man.
  sound-theme-freedesktop asterisk-prompt-es-co asterisk-prompt-fr-armelle
  asterisk-core-sounds-it-gsm asterisk-core-sounds-ru-gsm
  slurm-wlm
  librsvg2-bin man-db bsdextrautils desktop-file-utils appstream lintian mmdebstrap
  pipewire pipewire-pulse wireplumber
)
if [ "${1:-}" = --fuzz ]; then
  packages+=(clang libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "setup: need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  sudo=(sudo)
fi
echo "setup: installing ${missing[*]}"
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
