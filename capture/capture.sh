#!/usr/bin/env bash
# capture.sh BUILD FORMAT FRAMES [SKIP]: films the intro built in the folder BUILD (its
# snowintro, with capture/libsnowcapture.so preloaded) on a virtual clock and writes FRAMES
# raw frames, 60 to the second of the intro's time, after passing over SKIP, to standard
# output. FORMAT is rgb565 (640x480 as drawn) or yuv420p-3x (1920x1440, the video's). The
# intro runs in assets/ on SDL's dummy drivers: no display or sound card is needed. The
# capture's timing report goes to standard error.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
usage="usage: capture.sh BUILD rgb565|yuv420p-3x FRAMES [SKIP]"
if [ $# -lt 3 ] || [ $# -gt 4 ]; then echo "$usage" >&2; exit 1; fi
build=$(realpath "$1")
for file in "$build/snowintro" "$build/capture/libsnowcapture.so"; do
    [ -e "$file" ] || { echo "capture.sh: $file is not built" >&2; exit 1; }
done

cd "$top/assets"
# The frames leave on descriptor 3, the intro's own output goes to standard error, so
# nothing it prints can mix with them.
SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy LD_PRELOAD="$build/capture/libsnowcapture.so" \
    SNOWCAPTURE_OUT=/dev/fd/3 SNOWCAPTURE_FORMAT="$2" SNOWCAPTURE_FRAMES="$3" SNOWCAPTURE_SKIP="${4:-0}" \
    "$build/snowintro" 3>&1 1>&2
