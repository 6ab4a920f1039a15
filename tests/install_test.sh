#!/usr/bin/env bash
# install_test.sh BUILD_DIR: installs into a scratch prefix and starts the installed intro
# from another folder; it must run in its assets' folder, play the tune, and end cleanly.
set -euo pipefail
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$1" --prefix "$prefix" >/dev/null
test -f "$prefix/share/applications/snowintro.desktop"

cd /
SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy "$prefix/bin/snowintro" &
pid=$!
sleep 1
cwd=$(readlink "/proc/$pid/cwd")
open_files=$(ls -l "/proc/$pid/fd")
kill -TERM "$pid" # a quit request
status=0
wait "$pid" || status=$?

fail() { echo "FAIL: $*"; exit 1; }
[ "$cwd" = "$prefix/share/snowintro" ] || fail "runs in $cwd"
grep -q 'velimora.mp3' <<<"$open_files" || fail "the music is not open"
[ "$status" -eq 0 ] || fail "ended with status $status"
echo "installed intro ran in its assets' folder and ended with 0"
