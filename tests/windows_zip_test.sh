#!/usr/bin/env bash
# windows_zip_test.sh ZIP: the Windows zip holds exactly its one folder of files; the program
# is a 64-bit GUI program with its icon and its version; it and its DLLs import only each
# other and Windows' own DLLs. The sources archive beside it holds the source packages that
# its README.txt names, nothing else of Debian's, and the project's committed tree.
set -euo pipefail
zip=$(realpath "$1")
repo=$(cd "$(dirname "$0")/.." && pwd)
folder=$(basename "$zip" -windows-x64.zip)
version=${folder#snowintro-}
fail() { echo "FAIL: $*"; exit 1; }

expected="$folder/
$folder/README.txt
$folder/SDL.dll
$folder/SDL_mixer.dll
$folder/font.bmp
$folder/licenses/
$folder/licenses/GPL-2.0.txt
$folder/licenses/SDL-COPYING.txt
$folder/licenses/SDL_mixer-COPYING.txt
$folder/licenses/libmad-COPYRIGHT.txt
$folder/licenses/mingw-w64-runtime.txt
$folder/licenses/snowintro.txt
$folder/logo.bmp
$folder/snowintro.exe
$folder/velimora.mp3"
listed=$(unzip -Z1 "$zip" | LC_ALL=C sort)
[ "$listed" = "$expected" ] || fail "the zip holds:"$'\n'"$listed"

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
unzip -q "$zip" -d "$dir"
cd "$dir/$folder"

exe_info=$(x86_64-w64-mingw32-objdump -p snowintro.exe)
grep -q 'file format pei-x86-64' <<<"$exe_info" || fail "snowintro.exe is no x86-64 PE file"
grep -Eq '^Magic\s+020b\s+\(PE32\+\)' <<<"$exe_info" || fail "snowintro.exe is no PE32+ file"
grep -Eq '^Subsystem\s+00000002\s+\(Windows GUI\)' <<<"$exe_info" || fail "snowintro.exe is no GUI program"

# Resource types 14 (icon group) and 16 (version), the version string from the build.
resources=$(wrestool -l snowintro.exe)
grep -q -- '--type=14' <<<"$resources" || fail "snowintro.exe has no icon"
wrestool -x --raw --type=16 snowintro.exe | strings -el | grep -qx "$version" ||
    fail "snowintro.exe's version resource does not say $version"

# Windows' own DLLs that SDL, SDL_mixer and the program may use.
system_dlls=" advapi32.dll gdi32.dll kernel32.dll msvcrt.dll user32.dll winmm.dll "
for pe in snowintro.exe SDL.dll SDL_mixer.dll; do
    for dll in $(x86_64-w64-mingw32-objdump -p "$pe" | sed -n 's/^\s*DLL Name: //p'); do
        [ -e "$dll" ] || [[ $system_dlls == *" ${dll,,} "* ]] || fail "$pe imports $dll, which is neither in the zip nor Windows' own"
    done
done

# The libraries' source packages: README.txt names a version of each; the archive holds that
# .dsc and the files it lists, less Debian's changes only where README.txt says the upstream
# tarball alone was built, and no other file.
sources=$dir/$folder-windows-x64-sources
tar -xJf "${zip%.zip}-sources.tar.xz" -C "$dir"
for pkg in libsdl1.2 libmad sdl-mixer1.2; do
    named=$(tr -d '\r' <README.txt | grep "^  $pkg ") || fail "README.txt names no version of $pkg"
    dsc=$(awk '{ print $1 "_" $2 ".dsc" }' <<<"$named")
    [ -e "$sources/debian/$dsc" ] || fail "README.txt names $pkg, but the sources archive has no $dsc"
    files=$(awk '/^Files:/ { f = 1; next } !/^ / { f = 0 } f { print $3 }' "$sources/debian/$dsc")
    for f in $files; do
        [ -e "$sources/debian/$f" ] || [[ $named == *"upstream tarball only"* && $f =~ \.(debian\.tar\.|diff\.gz$) ]] ||
            fail "the sources archive lacks $f"
    done
    printf '%s\n' "$dsc" "$files" >>"$dir/listed"
done
LC_ALL=C sort -o "$dir/listed" "$dir/listed"
strays=$(cd "$sources/debian" && printf '%s\n' * | LC_ALL=C sort | comm -13 "$dir/listed" - | tr '\n' ' ')
[ -z "$strays" ] || fail "the sources archive holds files of no source package README.txt names: $strays"

# The project's tree, as committed: no uncommitted edit and no untracked file.
mkdir "$dir/commit"
git -C "$repo" archive HEAD | tar -xf - -C "$dir/commit"
diff -r "$dir/commit" "$sources/$folder" >/dev/null ||
    fail "the sources archive's $folder/ is not the tree of commit $(git -C "$repo" rev-parse --short HEAD)"
echo "the zip's layout, the program's kind, resources and imports, and its sources archive are right"

