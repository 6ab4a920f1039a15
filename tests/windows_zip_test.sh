#!/usr/bin/env bash
# windows_zip_test.sh ZIP: the Windows zip holds exactly its one folder of files; the program
# is a 64-bit GUI program with its icon and its version; it and its DLLs import only each
# other and Windows' own DLLs.
set -euo pipefail
zip=$1
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
echo "the zip's layout, the program's kind, resources and imports are right"
