#!/usr/bin/env bash
# release/web.sh [BUILD_DIR [OUT_DIR]]: the intro as a static web page. Builds the browser
# tree (the page and the browser tests' frame checker) with Debian's emscripten into
# BUILD_DIR (build-web), installs the page into OUT_DIR (dist/web), both relative to the
# project folder, and zips it beside OUT_DIR as snowintro-VERSION-web.zip for HTML5 game
# hosts.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/setup.sh
build=${1:-build-web}
out=${2:-dist/web}

ensure_packages cmake make emscripten zip
# emcc's JS tools load Debian's node modules (acorn, terser); a node that is not Debian's
# own does not look for them there.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
toolchain=$(em-config EMSCRIPTEN_ROOT)/cmake/Modules/Platform/Emscripten.cmake
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$toolchain" >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
rm -rf "$out"
cmake --install "$build" --prefix "$out" >/dev/null

# The zip, with index.html at its top, as the commit made it wherever and whenever it is
# built: the commit's time on every file (in UTC, as zip's times are local), files in name
# order, modes that do not depend on the umask, and no owners or extra times (-X). Made
# from a copy, so that OUT_DIR's files keep the time they were made.
zip=$(realpath -m "$(dirname "$out")/snowintro-$(project_version)-web.zip")
stage=$build/zip
rm -rf "$stage" "$zip"
cp -r "$out" "$stage"
chmod -R u+w,go-w,a+rX "$stage"
find "$stage" -exec touch -h -d "@$(git log -1 --format=%ct)" {} +
(cd "$stage" && find . -type f -printf '%P\n' | LC_ALL=C sort | TZ=UTC zip -qX "$zip" -@)
echo "Built $out: $(cd "$out" && echo *)"
echo "$zip ($(du -k "$zip" | cut -f1) KB)"
