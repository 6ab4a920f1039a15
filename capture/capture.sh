#!/usr/bin/env bash
# capture.sh BUILD FORMAT FRAMES [SKIP]: films the intro built in the folder BUILD (its
# snowintro, with capture/libsnowcapture.so preloaded) on a virtual clock and writes FRAMES
# raw frames, 60 to the second of the intro's time, after passing over SKIP, to standard
# output. FORMAT is rgb565 (640x480 as drawn) or yuv420p-3x (1920x1440, the video's). The
# intro runs in assets/ on SDL's dummy drivers: no display or sound card is needed. The
# capture's timing report goes to standard error. The intro gets a deadline: should the
# capture not run in it, nothing would ever end it.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
usage="usage: capture.sh BUILD rgb565|yuv420p-3x FRAMES [SKIP]"
if [ $# -lt 3 ] || [ $# -gt 4 ]; then echo "$usage" >&2; exit 1; fi
build=$(realpath "$1")
for file in "$build/snowintro" "$build/capture/libsnowcapture.so"; do
    [ -e "$file" ] || { echo "capture.sh: $file is not built" >&2; exit 1; }
done

[[ $3 =~ ^[0-9]+$ ]] || { echo "capture.sh: FRAMES must be a whole number" >&2; exit 1; }

# LD_PRELOAD splits on spaces and colons, and the loader ignores what it cannot find: the
# library goes in through a link whose path has neither.
link=$(mktemp -d /tmp/snowcapture.XXXXXX)
trap 'rm -rf "$link"' EXIT
ln -s "$build/capture/libsnowcapture.so" "$link/libsnowcapture.so"
# The capture makes 50 to 75 frames a second here, so 10 a second, after a minute to start,
# is ample.
deadline=$((60 + ${3} / 10))

cd "$top/assets"
# The frames leave on descriptor 3, the intro's own output goes to standard error, so
# nothing it prints can mix with them.
SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy LD_PRELOAD="$link/libsnowcapture.so" \
    SNOWCAPTURE_OUT=/dev/fd/3 SNOWCAPTURE_FORMAT="$2" SNOWCAPTURE_FRAMES="$3" SNOWCAPTURE_SKIP="${4:-0}" \
    timeout -k 10 "$deadline" "$build/snowintro" 3>&1 1>&2 || {
    status=$?
    [ $status -ne 124 ] || echo "capture.sh: the intro was still running after $deadline s; ended it" >&2
    exit $status
}
