#!/usr/bin/env bash
# Builds dist/snowintro_VERSION-1_arm64.deb on any Debian machine: release/deb.sh cross-builds
# it in a brand-new Debian 12 root (scripts/fresh_root.sh) from a copy of this tree. A root of
# its own, as sbuild uses, because Debian 12's libsdl1.2-dev cannot be installed for two
# architectures at once, and this machine's own builds need its amd64 one; and Debian 12,
# whatever this machine runs, since that is what Raspberry Pi OS and most arm64 desktops are
# based on.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/setup.sh

deb=snowintro_$(project_version)-1_arm64.deb
log=build-deb-arm64/dpkg-buildpackage.log # dpkg-buildpackage's output, kept from the root
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
tar -cf "$out/tree.tar" --exclude-vcs --exclude='./build*' --exclude=./dist .
chmod a+r "$out/tree.tar" # for the root's user, whatever our umask
rm -rf build-deb-arm64
mkdir -p build-deb-arm64 dist
status=0
scripts/fresh_root.sh --out "$out" 12 "mkdir ~/tree && tar -xf /out/tree.tar -C ~/tree && cd ~/tree &&
    { scripts/release/deb.sh arm64 >/dev/null && cp dist/$deb /out/; status=\$?
      cp build-deb/dpkg-buildpackage.log /out/ 2>/dev/null; exit \$status; }" || status=$?
[ ! -e "$out/dpkg-buildpackage.log" ] || cp "$out/dpkg-buildpackage.log" "$log"
if [ $status -ne 0 ]; then
    where="see above"
    [ ! -e "$log" ] || where+=" and $log"
    echo "release/deb-arm64.sh: the cross build in a fresh Debian 12 root failed ($where)" >&2
    exit 1
fi
cp "$out/$deb" dist/ # made by the root's user; ours here
echo "dist/$deb"
