#!/usr/bin/env bash
# release-windows.sh: the Windows release. Cross-builds SDL, libmad and SDL_mixer from
# Debian's source packages into a prefix under build-windows/ (once; later runs reuse it),
# builds the intro against it with the project's CMakeLists and the mingw-w64 toolchain
# file, and leaves the zip and its corresponding source in dist/.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/setup.sh

HOST=x86_64-w64-mingw32
# Debian 12's source packages of SDL 1.2.15, SDL_mixer 1.2.12 and libmad 0.15.1b.
declare -A VERSIONS=([libsdl1.2]=1.2.15+dfsg2-8 [libmad]=0.15.1b-10.1 [sdl-mixer1.2]=1.2.12-17)

top=$PWD
work=$top/build-windows
deps=$work/deps     # the cached prefix of the Windows libraries
srcs=$work/sources  # the source packages as downloaded, shipped in the sources archive
logs=$work/logs
version=$(project_version)
name=snowintro-$version
dist=$top/dist
zip=$dist/$name-windows-x64.zip
tarball=$dist/$name-windows-x64-sources.tar.xz

fail() { echo "release-windows: $*" >&2; exit 1; }
have() { compgen -G "$1" >/dev/null; }
# The upstream tarball of source package $1 at Debian version $2.
orig() {
    local f
    for f in "$srcs/${1}_${2%-*}".orig.tar.{gz,xz,bz2}; do [ -e "$f" ] && echo "$f" && return; done
    return 1
}

# Runs a build step quietly into its own log; on failure says which step and where to look.
step() {
    local log=$logs/$1.log
    shift
    "$@" >"$log" 2>&1 || fail "$(basename "$log" .log) failed; see $log"
}

# An apt configuration of our own whose source lists are the machine's, turned from binary
# into source entries, so that apt-get source works without touching the system's lists.
apt_src=()
setup_apt_sources() {
    local conf=$work/apt f
    mkdir -p "$conf/sources.list.d" "$conf/lists/partial" "$conf/cache"
    rm -f "$conf"/sources.list.d/*
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -e "$f" ] && sed 's/^Types:.*/Types: deb-src/' "$f" >"$conf/sources.list.d/$(basename "$f")"
    done
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -e "$f" ] && sed -n 's/^deb\s/deb-src /p' "$f" >"$conf/sources.list.d/$(basename "$f").list"
    done
    apt_src=(apt-get -qq -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$conf/sources.list.d"
             -o Dir::State::Lists="$conf/lists" -o Dir::Cache="$conf/cache" -o APT::Sandbox::User=root)
    "${apt_src[@]}" update || fail "apt-get update of the source lists failed"
}

# Downloads each source package into $srcs. A package whose Debian changes are missing from
# the archive while its upstream tarball is there is built from that tarball alone.
fetch_sources() {
    local pkg ver
    mkdir -p "$srcs"
    for pkg in "${!VERSIONS[@]}"; do
        ver=${VERSIONS[$pkg]}
        have "$srcs/${pkg}_$ver.dsc" && orig "$pkg" "$ver" >/dev/null && continue
        [ ${#apt_src[@]} -gt 0 ] || setup_apt_sources
        (cd "$srcs" && "${apt_src[@]}" source --download-only "$pkg=$ver" >"$logs/fetch-$pkg.log" 2>&1) || true
        have "$srcs/${pkg}_$ver.dsc" && orig "$pkg" "$ver" >/dev/null ||
            fail "the source package $pkg $ver cannot be had (see $logs/fetch-$pkg.log)"
    done
}

# Unpacks a source package into $work/src/PKG with Debian's changes applied when they are
# there, or just its upstream tarball.
unpack() {
    local pkg=$1 ver=${VERSIONS[$1]} dir=$work/src/$1
    rm -rf "$dir"
    mkdir -p "$work/src"
    if have "$srcs/${pkg}_$ver.debian.tar.*" || have "$srcs/${pkg}_$ver.diff.gz"; then
        step unpack-$pkg dpkg-source --no-check -x "$srcs/${pkg}_$ver.dsc" "$dir"
    else
        echo "  $pkg: Debian's changes are not in the archive; building its upstream tarball"
        mkdir "$dir"
        tar -xf "$(orig "$pkg" "$ver")" -C "$dir" --strip-components=1
    fi
    cd "$dir"
}

# The win32 thread model, as in the toolchain file: nothing then needs libwinpthread.
configure_host() { ./configure --host=$HOST --prefix="$deps" CC="$HOST-gcc-win32" "$@"; }

# SDL 1.2: with Debian's dont_propagate_lpthread.diff, sdl.pc would leave out -lmingw32
# -lSDLmain -mwindows, so the program would have no WinMain.
build_sdl() {
    unpack libsdl1.2
    patch -R -p1 -s <debian/patches/dont_propagate_lpthread.diff
    step sdl-configure configure_host --disable-static CC="$HOST-gcc-win32 -static-libgcc"
    step sdl-build make -j"$(nproc)" install
    $HOST-strip --strip-unneeded "$deps/bin/SDL.dll"
    install -D -m 644 COPYING "$deps/share/licenses/SDL-COPYING.txt"
}

# libmad: static, so it ends up inside SDL_mixer.dll. gcc 12 rejects -fforce-mem.
build_libmad() {
    unpack libmad
    sed -i 's/ -fforce-mem//' configure
    step libmad-configure configure_host --disable-shared --enable-static --enable-fpm=64bit
    step libmad-build make -j"$(nproc)" install
    install -D -m 644 COPYING "$deps/share/licenses/GPL-2.0.txt"
    install -D -m 644 COPYRIGHT "$deps/share/licenses/libmad-COPYRIGHT.txt"
}

# SDL_mixer: MP3 through libmad and no other music format. Only the library: its demo
# programs do not build for Windows.
build_mixer() {
    unpack sdl-mixer1.2
    step mixer-configure configure_host --disable-static --with-sdl-prefix="$deps" \
        CPPFLAGS="-I$deps/include" LDFLAGS="-L$deps/lib" \
        --enable-music-mp3-mad-gpl --disable-music-mp3 --disable-music-ogg --disable-music-flac \
        --disable-music-mod --disable-music-midi
    step mixer-build make -j"$(nproc)" install-hdrs install-lib
    $HOST-strip --strip-unneeded "$deps/bin/SDL_mixer.dll"
    install -D -m 644 COPYING "$deps/share/licenses/SDL_mixer-COPYING.txt"
}

# Each library once: a stamp in the prefix marks it built.
build_deps() {
    local lib started=$SECONDS
    for lib in sdl libmad mixer; do
        [ -e "$deps/.built-$lib" ] && continue
        echo "  building $lib for Windows"
        (build_$lib)
        touch "$deps/.built-$lib"
    done
    [ $((SECONDS - started)) -lt 1 ] || echo "  libraries built in $((SECONDS - started)) s"
}

ensure_packages "${BUILD_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}"
mkdir -p "$logs" "$dist"
fetch_sources
build_deps

# The licence of the compiler's start-up code linked into the program.
install -D -m 644 /usr/share/doc/mingw-w64-x86-64-dev/copyright "$deps/share/licenses/mingw-w64-runtime.txt"

# The program, through the project's own build description; its install step lays out the
# zip's folder.
step exe-configure \
    cmake -S . -B "$work/exe" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_FIND_ROOT_PATH="$deps" -DBUILD_TESTING=OFF
step exe-build cmake --build "$work/exe" -j"$(nproc)"
stage=$work/stage
rm -rf "$stage"
step exe-install cmake --install "$work/exe" --strip --prefix "$stage/$name"

rm -f "$zip" "$tarball"
(cd "$stage" && zip -qrX "$zip" "$name")

# The corresponding source: the source packages used and the project's own tree.
mkdir -p "$stage/src/$name-windows-x64-sources/debian"
cp "$srcs"/* "$stage/src/$name-windows-x64-sources/debian/"
git ls-files -z >"$stage/files" 2>/dev/null || fail "cannot list the project's files: this is no git checkout"
mkdir "$stage/src/$name-windows-x64-sources/$name"
tar --null -T "$stage/files" -cf - | tar -xf - -C "$stage/src/$name-windows-x64-sources/$name"
tar -C "$stage/src" --sort=name --owner=0 --group=0 -cJf "$tarball" "$name-windows-x64-sources"

echo "$zip ($(du -k "$zip" | cut -f1) KB)"
echo "$tarball ($(du -k "$tarball" | cut -f1) KB)"
