#!/usr/bin/env bash
# deb.sh [ARCH]: builds the Debian package with Debian's own tooling from debian/, in a
# scratch copy of the tree under build-deb/ (dpkg-buildpackage writes into the parent
# folder), and leaves dist/snowintro_VERSION-1_ARCH.deb. ARCH defaults to this machine's;
# another one is cross-built, with that architecture's development packages (multiarch).
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/setup.sh

build_arch=$(dpkg --print-architecture)
host_arch=${1:-$build_arch}
cross=()
if [ "$host_arch" = "$build_arch" ]; then
    # dpkg-buildpackage also checks for build-essential, which every Debian build assumes.
    ensure_packages "${BUILD_PACKAGES[@]}" debhelper dpkg-dev build-essential
else
    if ! dpkg --print-foreign-architectures | grep -qx "$host_arch"; then
        as_root dpkg --add-architecture "$host_arch"
        unset SNOWINTRO_APT_UPDATED # the new architecture's package lists are still to come
        apt_update_once
    fi
    ensure_packages debhelper dpkg-dev "crossbuild-essential-$host_arch"
    # The profiles of every Debian cross build: no tests, which could not run here anyway
    # (debhelper wants nocheck among the options too).
    profiles=cross,nocheck
    cross=(--host-arch "$host_arch" -P"$profiles")
    export DEB_BUILD_OPTIONS="${DEB_BUILD_OPTIONS:+$DEB_BUILD_OPTIONS }nocheck"
    if ! dpkg-checkbuilddeps -a "$host_arch" -P "$profiles" >/dev/null 2>&1; then
        echo "Installing the build dependencies for $host_arch"
        apt_get build-dep -y --no-install-recommends --host-architecture "$host_arch" -P "$profiles" ./ ||
            { echo "release/deb.sh: the build dependencies for $host_arch cannot be installed" >&2; exit 1; }
    fi
fi

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
if ! (cd "$work/snowintro-$version" && dpkg-buildpackage -b -us -uc -j"$(nproc)" "${cross[@]}") >"$log" 2>&1; then
    echo "release/deb.sh: dpkg-buildpackage failed; its output is in $log" >&2
    exit 1
fi
deb=snowintro_$version-1_$host_arch.deb
mv "$work/$deb" dist/
echo "dist/$deb"
