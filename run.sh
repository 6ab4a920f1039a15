#!/usr/bin/env bash
# Installs what is missing, builds, and starts the intro. Without a display it runs the
# intro on a private X server for a few seconds and saves a screenshot instead. The tests
# and what only they need are left to test.sh.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/setup.sh

if [ -n "${DISPLAY:-}" ]; then
    ensure_packages "${BUILD_PACKAGES[@]}"
    build_into build -DBUILD_TESTING=OFF
    # The intro opens its assets by relative name. Whole-pixel scaling, as the installed
    # launcher asks of sdl12-compat.
    cd assets
    export SDL12COMPAT_SCALE_METHOD=${SDL12COMPAT_SCALE_METHOD-nearest}
    exec ../build/snowintro
fi

echo "No display (DISPLAY is not set): running the intro on a private Xvfb for 5 seconds."
ensure_packages "${BUILD_PACKAGES[@]}" xvfb xdotool imagemagick
build_into build -DBUILD_TESTING=OFF
scripts/screenshot.sh build/screenshot.png 5
