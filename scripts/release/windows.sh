#!/usr/bin/env bash
# release/windows.sh: the Windows release. Cross-builds SDL, libmad and SDL_mixer from the
# versions of Debian's source packages that the machine's archive offers now, into a prefix
# under build-windows/ kept for that set of versions (a later run with the same versions
# reuses it), builds the intro's committed tree against it with the project's CMakeLists and
# the mingw-w64 toolchain file, and leaves the zip and its corresponding source in dist/.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/setup.sh

HOST=x86_64-w64-mingw32
# SDL 1.2, libmad and SDL_mixer 1.2 by their source package names, in the order they build.
PACKAGES=(libsdl1.2 libmad sdl-mixer1.2)
# Where each package's source is taken from: the newest version in this machine's release
# whose files download, else the newest in Debian 12's, both on the machine's own mirrors.
# Debian 12 is the last release with the classic SDL 1.2 source; later ones have only
# sdl12-compat, which would bring SDL 2 into the zip.
HOST_CODENAME=$(host_codename)
CLASSIC_SDL_CODENAME=bookworm
RELEASES=("$HOST_CODENAME")
[ "$HOST_CODENAME" = $CLASSIC_SDL_CODENAME ] || RELEASES+=("$CLASSIC_SDL_CODENAME")

top=$PWD
work=$top/build-windows
logs=$work/logs
downloads=$work/sources # the source packages as downloaded, of every version taken so far
version=$(project_version)
name=snowintro-$version
dist=$top/dist
zip=$dist/$name-windows-x64.zip
tarball=$dist/$name-windows-x64-sources.tar.xz

fail() { echo "release/windows.sh: $*" >&2; exit 1; }

# Runs a build step quietly into its own log; on failure says which step and where to look.
step() {
    local log=$logs/$1.log
    shift
    "$@" >"$log" 2>&1 || fail "$(basename "$log" .log) failed; see $log"
}

# apt-get over a configuration of our own that lists release $1's source suites, so that
# apt-get source works without touching the system's lists.
apt_src() {
    local conf=$work/apt/$1
    shift
    apt-get -qq -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$conf/sources.list.d" \
        -o Dir::State::Lists="$conf/lists" -o Dir::Cache="$conf/cache" -o APT::Sandbox::User=root "$@"
}

setup_apt_sources() {
    local codename conf
    for codename in "${RELEASES[@]}"; do
        conf=$work/apt/$codename
        mkdir -p "$conf/sources.list.d" "$conf/lists/partial" "$conf/cache"
        debian_suites "$codename" | awk '{ print "deb-src " $1 " " $2 " main" }' >"$conf/sources.list.d/debian.list"
        [ -s "$conf/sources.list.d/debian.list" ] ||
            fail "the machine's apt configuration names no Debian suite of its release to take sources from"
        apt_src "$codename" update >"$logs/apt-update-$codename.log" 2>&1 ||
            fail "apt-get update of the source lists failed; see $logs/apt-update-$codename.log"
    done
}

# Debian's changes to the upstream source, as opposed to the upstream tarball and the .dsc.
is_debian_changes() { [[ $1 == *.debian.tar.* || $1 == *.diff.gz ]]; }

# Removes those of the files in $downloads, given as "SHA256  NAME" lines, whose contents
# are not what the archive lists: an interrupted download leaves them cut short.
drop_damaged() {
    local sum name
    while read -r sum name; do
        [ ! -e "$downloads/$name" ] || [ "$(sha256sum <"$downloads/$name" | cut -d' ' -f1)" = "$sum" ] ||
            rm -f "$downloads/$name"
    done <<<"$1"
}

# Takes each package from the first release that offers a version of it whose files download
# into $downloads, Debian's changes aside: a package whose changes alone are missing is built
# from its upstream tarball. Every file is checked against the SHA-256 of apt's signed source
# index, before the download (so that a damaged one is fetched again) and after it, which
# also covers the .dsc's own checksums. Sets the version and the names of its files.
declare -A VERSIONS FILES
fetch_sources() {
    local pkg codename sums files dsc log f
    mkdir -p "$downloads"
    for pkg in "${PACKAGES[@]}"; do
        for codename in "${RELEASES[@]}"; do
            log=$logs/fetch-$pkg-$codename.log
            sums=$(apt_src "$codename" source --print-uris "$pkg" 2>"$log" |
                sed -n "s/^'[^']*' \([^ ]*\) [0-9]* SHA256:\([0-9a-f]*\)$/\2  \1/p") || true
            files=$(cut -d' ' -f3 <<<"$sums")
            dsc=$(grep -m1 '\.dsc$' <<<"$files") || continue
            drop_damaged "$sums"
            (cd "$downloads" && apt_src "$codename" source --download-only "$pkg") >>"$log" 2>&1 || true
            drop_damaged "$sums"
            for f in $files; do
                [ -e "$downloads/$f" ] || is_debian_changes "$f" || continue 2
            done
            dsc=${dsc#"${pkg}_"}
            VERSIONS[$pkg]=${dsc%.dsc}
            FILES[$pkg]=$files
            break
        done
        [ -n "${VERSIONS[$pkg]:-}" ] ||
            fail "the source package $pkg cannot be had from Debian ${RELEASES[*]}: no version of it downloads (see $logs/fetch-$pkg-*.log)"
    done
}

# The files package $1 is built from: those of its version that downloaded.
built_from() {
    local f
    for f in ${FILES[$1]}; do
        [ ! -e "$downloads/$f" ] || echo "$f"
    done
}

# Whether package $1 is built from its upstream tarball alone.
upstream_only() {
    local f
    for f in ${FILES[$1]}; do
        is_debian_changes "$f" && [ -e "$downloads/$f" ] && return 1
    done
    return 0
}

# Unpacks a source package into $linked/src/PKG with Debian's changes applied, or just its
# upstream tarball when they could not be had.
unpack() {
    local pkg=$1 dir=$linked/src/$1
    rm -rf "$dir"
    mkdir -p "$linked/src"
    if upstream_only "$pkg"; then
        echo "  $pkg: Debian's changes to it did not download; building its upstream tarball alone"
        mkdir "$dir"
        tar -xf "$downloads/$(grep -m1 '\.orig\.tar\.[a-z0-9]*$' <<<"${FILES[$pkg]}")" -C "$dir" --strip-components=1
    else
        step "unpack-$pkg" dpkg-source --no-check -x "$downloads/${pkg}_${VERSIONS[$pkg]}.dsc" "$dir"
    fi
    cd "$dir"
}

# The win32 thread model, as in the toolchain file: nothing then needs libwinpthread. No
# link time in the DLLs' headers and no build folder in them, so they rebuild to the same
# bytes anywhere.
configure_host() {
    ./configure --host=$HOST --prefix="$deps" CC="$HOST-gcc-win32" CFLAGS="-O2 -ffile-prefix-map=$linked/=" \
        LDFLAGS="-Wl,--no-insert-timestamp" "$@"
}

# Rewriting a PE file stamps its header with the clock's time, or SOURCE_DATE_EPOCH's: 0 here,
# no time, as the linker was told, so that a cached DLL and one built anew are alike.
strip_pe() { SOURCE_DATE_EPOCH=0 $HOST-strip --strip-unneeded "$@"; }

# SDL 1.2: with Debian's dont_propagate_lpthread.diff, sdl.pc would leave out -lmingw32
# -lSDLmain -mwindows, so the program would have no WinMain. The upstream tarball has not got it.
build_sdl() {
    unpack libsdl1.2
    upstream_only libsdl1.2 || patch -R -p1 -s <debian/patches/dont_propagate_lpthread.diff
    step sdl-configure configure_host --disable-static CC="$HOST-gcc-win32 -static-libgcc"
    step sdl-build make -j"$(nproc)" install
    strip_pe "$deps/bin/SDL.dll"
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
    # gcc 14 rejects the bare "return;" of mad_getSamples, which returns the bytes it left
    # unfilled: none, as it has just filled the stream with silence.
    sed -i '/^mad_getSamples(/,/^}/ s/\breturn;/return 0;/' music_mad.c
    step mixer-configure configure_host --disable-static --with-sdl-prefix="$deps" \
        CPPFLAGS="-I$deps/include" LDFLAGS="-L$deps/lib -Wl,--no-insert-timestamp" \
        --enable-music-mp3-mad-gpl --disable-music-mp3 --disable-music-ogg --disable-music-flac \
        --disable-music-mod --disable-music-midi
    step mixer-build make -j"$(nproc)" install-hdrs install-lib
    strip_pe "$deps/bin/SDL_mixer.dll"
    install -D -m 644 COPYING "$deps/share/licenses/SDL_mixer-COPYING.txt"
}

# The prefix as found from where its files lie, so that another run's link finds it too;
# libtool's archives, which name it and which nothing here needs, go.
relocate_prefix() {
    sed -i 's|^prefix=.*|prefix=${pcfiledir}/../..|' "$deps"/lib/pkgconfig/*.pc
    sed -i 's|^prefix=.*|prefix=$(cd "$(dirname "$0")/.." \&\& pwd)|' "$deps/bin/sdl-config"
    rm -f "$deps"/lib/*.la
}

# What the prefix is made from and how: the names of the files built and the build steps.
recipe() {
    local pkg
    for pkg in "${PACKAGES[@]}"; do built_from "$pkg"; done
    declare -f unpack configure_host strip_pe build_sdl build_libmad build_mixer relocate_prefix
}

# Each library once per set of versions: a stamp in the prefix marks it built, so a run that
# failed half-way goes on where it stopped. Then the versions, for the zip's README.txt.
build_deps() {
    local lib pkg started=$SECONDS
    for lib in sdl libmad mixer; do
        [ -e "$deps/.built-$lib" ] && continue
        echo "  building $lib for Windows"
        (build_$lib)
        relocate_prefix
        touch "$deps/.built-$lib"
    done
    [ $((SECONDS - started)) -lt 1 ] || echo "  libraries built in $((SECONDS - started)) s"
    for pkg in "${PACKAGES[@]}"; do
        echo "$pkg ${VERSIONS[$pkg]}$(upstream_only "$pkg" && echo " (upstream tarball only, Debian's changes were missing)")"
    done >"$deps/share/debian-sources.txt"
}

# The project's committed tree into $1: the zip is built from it and the sources archive
# holds it, so the two always match. Uncommitted changes are in neither, and it says so
# rather than stopping: ./test.sh makes this release while edits are in progress.
export_commit() {
    git rev-parse -q --verify HEAD >/dev/null 2>&1 ||
        fail "this is no git checkout with a commit, and the release is built from a commit"
    [ -z "$(git status --porcelain)" ] ||
        echo "  uncommitted changes are left out: building commit $(git rev-parse --short HEAD) alone"
    mkdir -p "$1"
    git archive HEAD | tar -xf - -C "$1"
}

ensure_packages "${BUILD_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}"
mkdir -p "$logs" "$dist"
setup_apt_sources
fetch_sources

# The prefix for this set of versions, built from these files in this way. Any other goes,
# so that old libraries never meet new sources.
versions=$(for pkg in "${PACKAGES[@]}"; do echo "${pkg}_${VERSIONS[$pkg]}"; done | paste -sd,)
key=$versions,$(recipe | sha1sum | cut -c1-8)
# Autotools can neither build nor install in a folder whose name has a space, nor can CFLAGS
# carry one: the libraries are built, and found, through a link to $work from a private
# folder whose name has none.
link=$(mktemp -d /var/tmp/snowintro-windows.XXXXXX)
trap 'rm -rf "$link"' EXIT
linked=$link/work
ln -s "$work" "$linked"
deps=$linked/libs/$key
mkdir -p "$work/libs"
find "$work/libs" -mindepth 1 -maxdepth 1 ! -name "$key" -exec rm -rf {} +
echo "  source packages: ${versions//,/, }"
build_deps

# The licence of the compiler's start-up code linked into the program.
install -D -m 644 /usr/share/doc/mingw-w64-x86-64-dev/copyright "$deps/share/licenses/mingw-w64-runtime.txt"

# The corresponding source: the project's committed tree and the files of the source
# packages built, nothing else.
stage=$work/stage
rm -rf "$stage"
source_dir=$stage/$name-windows-x64-sources
export_commit "$source_dir/$name"
mkdir -p "$source_dir/debian"
for pkg in "${PACKAGES[@]}"; do
    for f in $(built_from "$pkg"); do cp -t "$source_dir/debian/" "$downloads/$f"; done
done

# The program, from that tree through the project's own build description; its install step
# lays out the zip's folder. A fresh build each time: the tree's files carry the commit's
# time, which says nothing about whether they changed since the last build.
rm -rf "$work/exe"
step exe-configure \
    cmake -S "$source_dir/$name" -B "$work/exe" -DCMAKE_TOOLCHAIN_FILE="$source_dir/$name/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_FIND_ROOT_PATH="$deps" -DBUILD_TESTING=OFF
step exe-build cmake --build "$work/exe" -j"$(nproc)"
step exe-install env SOURCE_DATE_EPOCH=0 cmake --install "$work/exe" --strip --prefix "$stage/zip/$name"

# Both archives as the commit made them, whenever and wherever they are built: its time on
# every member (the zip's times are local, so in UTC), members in name order, no owners, and
# modes that do not depend on the umask.
epoch=$(git log -1 --format=%ct)
chmod -R u+w,go-w,a+rX "$stage"
find "$stage" -exec touch -h -d "@$epoch" {} +
rm -f "$zip" "$tarball"
(cd "$stage/zip" && find "$name" | LC_ALL=C sort | TZ=UTC zip -qX "$zip" -@)
tar -C "$stage" --sort=name --owner=0 --group=0 --numeric-owner --mtime="@$epoch" --format=gnu \
    -cf - "$name-windows-x64-sources" | xz -T1 >"$tarball"

echo "$zip ($(du -k "$zip" | cut -f1) KB)"
echo "$tarball ($(du -k "$tarball" | cut -f1) KB)"
