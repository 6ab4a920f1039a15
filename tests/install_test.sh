#!/usr/bin/env bash
# install_test.sh cmake BUILD_DIR | deb PACKAGE: installs the intro into a scratch root, with
# cmake --install in the GNU layout or by unpacking the Debian package (after lintian and its
# Depends, and that its ELF files are for its architecture). Checks the installed files, the
# desktop entry, metainfo and man page, then, for this machine's architecture, starts the
# installed launcher from /: it must become the intro, run in its assets' folder, play the
# tune, and end with 0 on SIGTERM.
set -euo pipefail
. "$(dirname "$0")/../scripts/setup.sh"
mode=$1 source=$2
arch=$(dpkg --print-architecture) # the package's own, in deb mode
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

shared_files="share/applications/snowintro.desktop
share/icons/hicolor/48x48/apps/snowintro.png
share/icons/hicolor/64x64/apps/snowintro.png
share/icons/hicolor/128x128/apps/snowintro.png
share/icons/hicolor/256x256/apps/snowintro.png
share/icons/hicolor/scalable/apps/snowintro.svg
share/metainfo/io.github.snowintro.snowintro.metainfo.xml"

case $mode in
cmake)
    cmake --install "$source" --prefix "$root" >/dev/null
    prefix=$root
    launcher=bin/snowintro program=libexec/snowintro/snowintro data=share/snowintro
    man_page=share/man/man6/snowintro.6
    own_files=
    files=$(cd "$root" && find . ! -type d | sed 's|^\./||')
    ;;
deb)
    # Debian 13's lintian runs AppStream 1.0 over the metainfo, which warns of the homepage
    # the project does not have; the metainfo is validated strictly below instead.
    lintian=(lintian --fail-on error,warning)
    ! lintian-explain-tags appstream-metadata-validation-failed >/dev/null 2>&1 ||
        lintian+=(--suppress-tags appstream-metadata-validation-failed)
    "${lintian[@]}" "$source" || fail "lintian reports the tags above"
    depends=$(dpkg-deb -f "$source" Depends)
    grep -q 'libsdl1.2debian' <<<"$depends" && grep -q 'libsdl-mixer1.2' <<<"$depends" ||
        fail "Depends lacks SDL 1.2 or SDL_mixer 1.2: $depends"
    dpkg -x "$source" "$root"
    # Every ELF file is built for the package's architecture, not the machine that built it.
    arch=$(dpkg-deb -f "$source" Architecture)
    case $arch in
    amd64) machine='Advanced Micro Devices X86-64' ;;
    arm64) machine=AArch64 ;;
    *) fail "no ELF machine known for the package's architecture $arch" ;;
    esac
    elf_files=0
    while read -r file; do
        elf_machine=$(readelf -h "$file" 2>/dev/null | sed -n 's/^ *Machine: *//p') || continue # no ELF
        [ "$elf_machine" = "$machine" ] || fail "${file#"$root"} is for $elf_machine in a package for $arch"
        elf_files=$((elf_files + 1))
    done < <(find "$root" -type f)
    [ "$elf_files" -gt 0 ] || fail "no ELF file in the package"
    prefix=$root/usr
    launcher=games/snowintro program=lib/games/snowintro/snowintro data=share/games/snowintro
    man_page=share/man/man6/snowintro.6.gz
    own_files="share/doc/snowintro/copyright
share/doc/snowintro/changelog.Debian.gz
share/lintian/overrides/snowintro"
    files=$(dpkg-deb -c "$source" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\./usr/||')
    ;;
*)
    fail "mode must be cmake or deb, not '$mode'"
    ;;
esac

expected=$(printf '%s\n' "$launcher" "$program" "$data/font.bmp" "$data/logo.bmp" \
    "$data/velimora.mp3" "$man_page" "$shared_files" $own_files | sort)
[ "$(sort <<<"$files")" = "$expected" ] ||
    fail "installed files differ from the layout: $(diff <(echo "$expected") <(sort <<<"$files") | grep '^[<>]' | tr '\n' ' ')"
[ -x "$prefix/$launcher" ] && [ -x "$prefix/$program" ] || fail "launcher or program not executable"

desktop-file-validate "$prefix/share/applications/snowintro.desktop" || fail "desktop entry"
validate_metainfo "$prefix"/share/metainfo/*.metainfo.xml >/dev/null ||
    fail "metainfo: $(validate_metainfo "$prefix"/share/metainfo/*.metainfo.xml)"
man_warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$prefix/$man_page" 2>&1 >/dev/null) ||
    fail "man cannot render the page"
[ -z "$man_warnings" ] || fail "man page: $man_warnings"
# The man page names the data folder where this install put it.
data_path=$prefix/$data
[ "$mode" = deb ] && data_path=/usr/$data
zgrep -q "^\.I $data_path/font.bmp" "$prefix/$man_page" || fail "man page does not name $data_path"

# A program for another architecture cannot run here; fresh_test.sh runs it in a root of its own.
if [ "$arch" != "$(dpkg --print-architecture)" ]; then
    echo "$mode install for $arch: ELF machine, layout, desktop entry, metainfo and man page checked"
    exit 0
fi

cd /
SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy "$prefix/$launcher" &
pid=$!
sleep 1
exe=$(readlink "/proc/$pid/exe")
cwd=$(readlink "/proc/$pid/cwd")
open_files=$(ls -l "/proc/$pid/fd")
kill -TERM "$pid" # a quit request
status=0
wait "$pid" || status=$?

[ "$exe" = "$prefix/$program" ] || fail "the launcher did not exec the program: $exe runs"
[ "$cwd" = "$prefix/$data" ] || fail "runs in $cwd"
grep -q 'velimora.mp3' <<<"$open_files" || fail "the music is not open"
[ "$status" -eq 0 ] || fail "ended with status $status"
echo "$mode install: layout, desktop entry, metainfo and man page checked; the launcher ran the intro in its assets' folder and it ended with 0"
