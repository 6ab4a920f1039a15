#!/usr/bin/env bash
# release/web.sh [BUILD_DIR [OUT_DIR]]: the intro as a static web page. Builds the browser
# tree (the page and the browser tests' frame checker) with Debian's emscripten into
# BUILD_DIR (build-web) and installs the page into OUT_DIR (dist/web); both relative to the
# project folder.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/setup.sh
build=${1:-build-web}
out=${2:-dist/web}

ensure_packages cmake make emscripten
# emcc's JS tools load Debian's node modules (acorn, terser); a node that is not Debian's
# own does not look for them there.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
toolchain=$(em-config EMSCRIPTEN_ROOT)/cmake/Modules/Platform/Emscripten.cmake
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$toolchain" >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
rm -rf "$out"
cmake --install "$build" --prefix "$out" >/dev/null
echo "Built $out: $(cd "$out" && echo *)"
