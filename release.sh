#!/usr/bin/env bash
# Builds release artifacts into dist/: ./release.sh builds them all, ./release.sh TARGET...
# only the named ones. Each target is a script scripts/release-TARGET.sh that installs what
# it is missing and leaves its artifacts in dist/.
set -euo pipefail
cd "$(dirname "$0")"

available=()
for script in scripts/release-*.sh; do
    [ -e "$script" ] || continue
    name=${script#scripts/release-}
    available+=("${name%.sh}")
done

targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${available[@]}")
for target in "${targets[@]}"; do
    if [ ! -x "scripts/release-$target.sh" ]; then
        echo "release.sh: no such target '$target' (targets: ${available[*]:-none})" >&2
        exit 1
    fi
done

mkdir -p dist
for target in "${targets[@]}"; do
    echo "== $target"
    "scripts/release-$target.sh"
done
