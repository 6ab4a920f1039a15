#!/usr/bin/env bash
# web_figures.sh [WEB_DIR]: the browser build's figures. Builds the release page as the
# browser tests do (into WEB_DIR, build/web) and prints each file's size, raw and gzipped,
# the gzipped total with and without the music, then frames per second and main-thread
# time per frame in headless Chromium.
set -euo pipefail
cd "$(dirname "$0")/../.."
web=$(realpath -m "${1:-build/web}")
tests/web/build.sh "$web"

gzipped() { gzip -9 -c "$1" | wc -c; }
total=0
printf '%-16s %9s %9s\n' file bytes gzipped
for file in "$web"/page/*; do
    size=$(gzipped "$file")
    total=$((total + size))
    printf '%-16s %9d %9d\n' "$(basename "$file")" "$(stat -c %s "$file")" "$size"
done
music=$(gzipped assets/velimora.mp3)
printf 'gzipped total: %d bytes; without the music (velimora.mp3, %d gzipped): %d bytes\n' \
    "$total" "$music" $((total - music))
node tests/web/chromium.js figures "$web"
