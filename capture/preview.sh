#!/usr/bin/env bash
# preview.sh [OUT]: the moving picture at the top of the README, docs/preview.webp (or OUT):
# 8 seconds of the intro from 30 s on, when the snow has filled the screen and the message
# runs under the logo, filmed by the release video's capture (capture/capture.sh) at 640x480
# as drawn and kept as a lossless animated WebP. The same tree always gives the same bytes.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/setup.sh
if [ $# -gt 1 ]; then echo "usage: preview.sh [OUT]" >&2; exit 1; fi
out=${1:-docs/preview.webp}
fps=60 from=30 seconds=8

ensure_packages "${BUILD_PACKAGES[@]}" ffmpeg
build="build-video"
build_into "$build" -DBUILD_TESTING=OFF
mkdir -p "$(dirname "$out")"
trap 'rm -f "$out.part"' EXIT
# The WebP encoder merges each run of equal frames into one shown for as long, so every step
# of the animation keeps the time it has at 60 frames/s. It is given BGRA: in YUV the colours
# would no longer be exact.
capture/capture.sh "$build" rgb565 $((seconds * fps)) $((from * fps)) |
    ffmpeg -v error -nostdin -y -f rawvideo -pixel_format rgb565le -video_size 640x480 -framerate $fps \
        -i - -pix_fmt bgra -c:v libwebp_anim -lossless 1 -loop 0 -fflags +bitexact -f webp "$out.part"
mv "$out.part" "$out"
echo "$out: $(stat -c %s "$out") bytes"
