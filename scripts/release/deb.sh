#!/usr/bin/env bash
# Builds the Debian package with Debian's own tooling from debian/, in a scratch copy of
# the tree under build-deb/ (dpkg-buildpackage writes into the parent folder), and leaves
# dist/snowintro_VERSION-1_ARCH.deb.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/setup.sh

# dpkg-buildpackage also checks for build-essential, which every Debian build assumes.
ensure_packages "${BUILD_PACKAGES[@]}" debhelper dpkg-dev build-essential

version=$(project_version)
changelog_version=$(dpkg-parsechangelog -SVersion)
if [ "$changelog_version" != "$version-1" ]; then
    echo "release/deb.sh: debian/changelog is at $changelog_version but the project at $version; add an entry: dch -v $version-1" >&2
    exit 1
fi

work=build-deb
rm -rf "$work"
mkdir -p "$work/snowintro-$version" dist
tar -cf - --exclude-vcs --exclude='./build*' --exclude=./dist . | tar -xf - -C "$work/snowintro-$version"

log=$work/dpkg-buildpackage.log
if ! (cd "$work/snowintro-$version" && dpkg-buildpackage -b -us -uc -j"$(nproc)") >"$log" 2>&1; then
    echo "release/deb.sh: dpkg-buildpackage failed; its output is in $log" >&2
    exit 1
fi
deb=snowintro_$version-1_$(dpkg-architecture -qDEB_HOST_ARCH).deb
mv "$work/$deb" dist/
echo "dist/$deb"
