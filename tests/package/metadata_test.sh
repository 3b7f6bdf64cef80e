#!/usr/bin/env bash
# Checks of what a desktop and a package take from the source tree.
#   metadata_test.sh desktop FILE              desktop-file-validate passes, no hints
#   metadata_test.sh appstream FILE            appstreamcli validate --no-net: no warnings
#   metadata_test.sh versions VERSION EXE...   every program's --version, the newest
#                                              AppStream release and the Debian
#                                              changelog all give VERSION
#   metadata_test.sh manpage PAGE EXE          PAGE renders without a groff warning
#                                              and holds every option of EXE --help
# A tool that is not installed makes the check skip (status 77).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
data=$here/../../data

need() {
  command -v "$1" >/dev/null || {
    echo "SKIPPED: $1 is not installed (scripts/setup.sh installs it)"; exit 77; }
}
fail() { echo "FAIL: $*" >&2; exit 1; }

case ${1:-} in
  desktop)
    need desktop-file-validate
    out=$(desktop-file-validate "$2" 2>&1) || fail "desktop-file-validate: $out"
    [ -z "$out" ] || fail "desktop-file-validate remarks: $out"
    # The entry opens files: a field code for one and the types it reads.
    grep -qx 'Exec=quenvis %f' "$2" || fail "Exec does not pass a file"
    grep -q '^MimeType=.*audio/x-wav;' "$2" || fail "MimeType does not list WAV"
    ;;
  appstream)
    need appstreamcli
    appstreamcli validate --no-net --strict "$2" || fail "appstreamcli validate"
    ;;
  versions)
    version=$2; shift 2
    for exe in "$@"; do
      got=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen "$exe" --version)
      [ "$got" = "$(basename "$exe") $version" ] || fail "$exe --version: '$got', not $version"
    done
    release=$(grep -o '<release version="[^"]*"' "$data/io.github.quenvis.Quenvis.metainfo.xml" |
              head -1 | cut -d'"' -f2)
    [ "$release" = "$version" ] || fail "newest AppStream release is '$release', not $version"
    changelog=$(head -1 "$data/changelog" | sed -n 's/^quenvis (\([^)]*\)).*/\1/p')
    [ "$changelog" = "$version" ] || fail "newest changelog entry is '$changelog', not $version"
    ;;
  manpage)
    need man
    page=$2 exe=$3
    warnings=$(MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "groff: $warnings"
    text=$(MANWIDTH=200 man -E UTF-8 -l "$page" 2>/dev/null | col -b)
    grep -q "^SYNOPSIS" <<<"$text" || fail "no SYNOPSIS"
    # Every option the help names is on the page.
    options=$(QT_QPA_PLATFORM=offscreen "$exe" --help | grep -oE '(^|[ ,])--?[a-z][a-z0-9-]*' |
              sed 's/^[ ,]//' | sort -u)
    [ -n "$options" ] || fail "$exe --help names no options"
    for o in $options; do
      grep -qe "$o" <<<"$text" || fail "$page lacks $o"
    done
    ;;
  *) sed -n '2,10p' "$0" >&2; exit 2 ;;
esac
echo "ok"
