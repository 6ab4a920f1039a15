#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/setup.sh

# How long each phase took, printed at the end, failed or not, so that a slow first run
# shows where its time went.
timings="" phase_name="" phase_start=$SECONDS
phase() {
    [ -z "$phase_name" ] || timings+="$phase_name $((SECONDS - phase_start)) s, "
    phase_name=$1 phase_start=$SECONDS
}
trap 'phase ""; echo "test.sh: ${timings%, }; $SECONDS s in all"' EXIT
phase packages

# Tests: GoogleTest, a private X server with key presses, both SDL 1.2 runtimes, clang
# with its libFuzzer runtime for the font fuzzer, and Valgrind for the memcheck runs.
ensure_packages "${BUILD_PACKAGES[@]}" libgtest-dev xvfb xdotool libx11-dev libsdl1.2-compat \
    clang libclang-rt-dev valgrind
# The installed tree's and the Debian package's checks (release/deb.sh installs what
# building the package needs).
ensure_packages lintian desktop-file-utils appstream man-db
# The fresh roots' runs: debootstrap, and ImageMagick to look at their screenshots.
ensure_packages debootstrap imagemagick
# Browser tests: Debian's emscripten and headless Chromium, and npm for the test driver's one
# package (a node that brings its own npm conflicts with Debian's).
ensure_packages emscripten chromium $(command -v npm >/dev/null || echo npm)
# The release video and the preview: ffmpeg, with x264, AAC and WebP.
ensure_packages ffmpeg
# Windows zip: its cross-build, unzip and icoutils to inspect it, Wine to run it.
ensure_packages "${WINDOWS_PACKAGES[@]}" unzip icoutils wine wine64

phase build
build_into build -DBUILD_TESTING=ON
phase tests
ctest --test-dir build --output-on-failure

# Everything again under ASan and UBSan, but for what does not depend on how the tree
# was compiled.
phase "sanitizer build and tests"
build_into build-asan -DSNOWINTRO_SANITIZE=ON
ctest --test-dir build-asan --output-on-failure -LE "$SANITIZER_SKIPPED_LABELS"
