#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/setup.sh

# Tests: GoogleTest, a private X server with key presses, both SDL 1.2 runtimes, and
# clang with its libFuzzer runtime for the font fuzzer.
ensure_packages "${BUILD_PACKAGES[@]}" libgtest-dev xvfb xdotool libx11-dev libsdl1.2-compat \
    clang libclang-rt-14-dev

build_into build
ctest --test-dir build --output-on-failure
