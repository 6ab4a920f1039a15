#!/usr/bin/env bash
# build.sh WEB_DIR: the browser tests' fixture. Builds the browser tree in WEB_DIR/build with
# the release page installed into WEB_DIR/page, and installs the test driver's npm packages
# from the lock file into WEB_DIR/node.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
web=$1
for tool in npm node; do
    command -v "$tool" >/dev/null || { echo "build.sh: $tool is missing" >&2; exit 1; }
done

"$here/../../scripts/release/web.sh" "$web/build" "$web/page"

# npm ci starts from scratch, so only run it when the lock file has changed since the last
# install that succeeded; a failed one leaves no record and is tried again next time.
if ! cmp -s "$here/package-lock.json" "$web/node/installed.lock"; then
    rm -rf "$web/node"
    mkdir -p "$web/node"
    cp "$here/package.json" "$here/package-lock.json" "$web/node/"
    (cd "$web/node" && npm ci --no-audit --no-fund --loglevel=error)
    cp "$here/package-lock.json" "$web/node/installed.lock"
fi
