#!/usr/bin/env bash
# build.sh WEB_DIR: the browser tests' fixture. Builds the release page into WEB_DIR/page and
# the browser's frame checker in WEB_DIR/build, and installs the test driver's npm packages
# from the lock file into WEB_DIR/node.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
web=$1
for tool in npm node; do
    command -v "$tool" >/dev/null || { echo "build.sh: $tool is missing" >&2; exit 1; }
done

"$here/../../scripts/release-web.sh" "$web/build" "$web/page"
NODE_PATH=/usr/share/nodejs cmake --build "$web/build" --target intro_frames -j"$(nproc)" >/dev/null

# npm ci starts from scratch, so only run it when the lock file has changed.
if ! cmp -s "$here/package-lock.json" "$web/node/package-lock.json"; then
    rm -rf "$web/node"
    mkdir -p "$web/node"
    cp "$here/package.json" "$here/package-lock.json" "$web/node/"
    (cd "$web/node" && npm ci --no-audit --no-fund --loglevel=error)
fi
