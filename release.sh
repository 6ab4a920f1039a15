#!/usr/bin/env bash
# Builds release artifacts into dist/: ./release.sh builds them all, ./release.sh TARGET...
# only the named ones. Each target is a script scripts/release/TARGET.sh that installs what
# it is missing and leaves its artifacts in dist/. Ends with the SHA-256 of what it made,
# and of all of dist/ in dist/SHA256SUMS.
set -euo pipefail
cd "$(dirname "$0")"

available=()
for script in scripts/release/*.sh; do
    [ -e "$script" ] || continue
    name=${script#scripts/release/}
    available+=("${name%.sh}")
done

targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${available[@]}")
for target in "${targets[@]}"; do
    if [ ! -x "scripts/release/$target.sh" ]; then
        echo "release.sh: no such target '$target' (targets: ${available[*]:-none})" >&2
        exit 1
    fi
done

mkdir -p dist
started=$(mktemp)
trap 'rm -f "$started"' EXIT
for target in "${targets[@]}"; do
    echo "== $target"
    "scripts/release/$target.sh"
done

# The checksums of everything in dist/, for anyone who rebuilds to compare with
# (sha256sum -c SHA256SUMS in dist/); printed for what this run made: files written since it
# started, by their status change, as an install that keeps the source's time still makes
# that new.
(cd dist && find . -type f ! -name SHA256SUMS -printf '%P\n' | LC_ALL=C sort | xargs -r -d '\n' sha256sum >SHA256SUMS)
echo "== SHA-256 (all of dist/ in dist/SHA256SUMS)"
(cd dist && find . -type f ! -name SHA256SUMS -cnewer "$started" -printf '%P\n' | LC_ALL=C sort |
    xargs -r -d '\n' sha256sum)
