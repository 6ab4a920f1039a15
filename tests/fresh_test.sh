#!/usr/bin/env bash
# fresh_test.sh run RELEASE | deb RELEASE PACKAGE | stop RELEASE | suites: a newcomer on a
# brand-new Debian RELEASE root (scripts/fresh_root.sh), of the package's architecture in deb
# mode (under qemu-user when it is not this machine's), and the mirrors such a root is given.
#   run: ./run.sh as the very first command leaves a screenshot with the logo at (190, 50).
#   deb: the package installs with apt, runs from / as a normal user, ends with 0 on a key
#        press, its metainfo validates strictly, and a purge leaves none of its paths behind.
#        On Debian 13, whose sdl12-compat scales the picture, it runs under a window manager
#        on a 1920x1080x24 screen with a crisp picture (only the logo's own colours where the
#        scaled logo is; started without its launcher's setting, smoothed colours appear
#        there). On Debian 12, whose classic SDL 1.2 does not scale, it runs on the intro's
#        own 640x480 screen: the logo exact at (190, 50), and snow falling above it.
#   stop: ended by SIGTERM while its command runs (as timeout sends it, or sudo passes it on),
#        fresh_root.sh ends every process of the command before it ends, and the --out folder
#        and what the command wrote there are still the caller's.
#   suites: on a machine whose apt lists are gone, whose Debian mirror is a mirror list and
#        whose other repositories use its codename too, the mirrors named are Debian's
#        alone, as plain URIs.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
usage="usage: fresh_test.sh run RELEASE | deb RELEASE PACKAGE | stop RELEASE | suites"
mode=${1:?$usage} release=${2:-}
[ "$mode" = suites ] || : "${release:?$usage}"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# How many pixels of PNG's WxH+X+Y area differ from REFERENCE.png beyond the rounding between
# 16-bit and 24-bit colour.
misses() {
    convert "$1" -crop "$2" +repage "$out/area.png"
    compare -metric AE -fuzz 3% "$out/area.png" "$3" null: 2>&1 || true
}
convert "$top/assets/logo.bmp" -depth 8 "$out/logo.png"

# How many pixels of PNG's WxH+X+Y area are in colours that logo.bmp does not have.
foreign_pixels() {
    convert "$1" -crop "$2" +repage "$out/area.png"
    convert "$out/area.png" +dither -remap "$out/logo.png" "$out/remapped.png"
    compare -metric AE -fuzz 3% "$out/area.png" "$out/remapped.png" null: 2>&1 || true
}

# How many pixels of PNG's WxH+X+Y area are not black.
lit_pixels() {
    convert "$1" -crop "$2" +repage -colorspace Gray -threshold 0 -format '%[fx:round(mean*w*h)]' info:
}

# Fails unless the logo is exact at (190, 50) of the unscaled 640x480 picture PNG.
check_logo() {
    local wrong
    wrong=$(misses "$1" 260x72+190+50 "$out/logo.png")
    [ "$wrong" = 0 ] || fail "$wrong pixels of the logo area at (190, 50) are not the logo's"
}

# The pictures of the installed program, taken inside the root by the newcomer. Scaled by
# sdl12-compat: the launcher's and the bare program's, under a window manager on a large screen.
scaled_pictures() {
    ensure_packages openbox x11-utils
    "${newcomer[@]}" scripts/screenshot.sh --screen 1920x1080x24 --wm openbox --bin /usr/games/snowintro \
        --cwd / /out/launcher.png 3 >/dev/null
    "${newcomer[@]}" scripts/screenshot.sh --screen 1920x1080x24 --wm openbox \
        --bin /usr/lib/games/snowintro/snowintro --cwd /usr/share/games/snowintro /out/program.png 3 >/dev/null
}
# Unscaled: the launcher's on the intro's own screen, and the same a second later.
unscaled_pictures() {
    "${newcomer[@]}" scripts/screenshot.sh --bin /usr/games/snowintro --cwd / --later /out/later.png \
        /out/launcher.png 3 >/dev/null
}

# Run inside the root, in the newcomer's clone, with PACKAGE at /out/snowintro.deb; $1 takes
# the pictures. A root of another architecture runs this as root, without sudo (qemu-user
# honours no set-uid bit), so the pictures are taken as the newcomer through runuser there.
on_desktop() {
    set -euo pipefail
    . scripts/setup.sh
    local newcomer=()
    # runuser from its own folder: the root's PATH is the newcomer's, without /sbin.
    [ "$(id -u)" -ne 0 ] || newcomer=(/sbin/runuser -u newcomer -- env HOME=/home/newcomer USER=newcomer LOGNAME=newcomer)
    ensure_packages xvfb xdotool imagemagick appstream
    cp /out/snowintro.deb /tmp/ # apt's own user cannot read the newcomer's /out
    apt_get install -y /tmp/snowintro.deb
    dpkg-query -L snowintro >/out/paths
    validate_metainfo "$(grep '\.metainfo\.xml$' /out/paths)" >/out/appstream 2>&1 || { cat /out/appstream; exit 1; }
    "$1"
    apt_get purge -y snowintro
    local path
    while read -r path; do # the list starts with "/."
        [ ! -e "$path" ] || [ "$path" = /. ] || dpkg-query -S "$path" >/dev/null 2>&1 || echo "$path"
    done </out/paths >/out/left
}

stop_test() {
    [ "$(id -u)" -ne 0 ] || chown 1001 "$out" # not the newcomer's, as a CI runner's is not
    local owner marker=snowintro-stop-test-$$ pid i left
    owner=$(stat -c %u "$out")
    "$top/scripts/fresh_root.sh" --out "$out" "$release" "touch /out/started && exec -a $marker sleep 600" &
    pid=$!
    for ((i = 0; i < 1200; i++)); do
        [ ! -e "$out/started" ] && kill -0 $pid 2>/dev/null || break
        sleep 0.1
    done
    [ -e "$out/started" ] || fail "the command did not start in the root"
    kill -TERM $pid
    wait $pid || true
    if left=$(pgrep -f -- "$marker"); then
        kill $left
        fail "the command outlived fresh_root.sh, ended by SIGTERM"
    fi
    [ "$(stat -c %u "$out" "$out/started" | sort -u)" = "$owner" ] ||
        fail "the --out folder or what the command wrote there is no longer its owner's"
    echo "Debian $release: ended by SIGTERM, fresh_root.sh ended its command and handed the folder back"
}

# A local repository at $1 whose Release files name $2 as their origin, with suites $3...
local_repository() {
    local dir=$1 origin=$2 suite packages
    shift 2
    for suite in "$@"; do
        packages=$dir/dists/$suite/main/binary-$(dpkg --print-architecture)/Packages
        mkdir -p "${packages%/*}"
        printf 'Package: example\nVersion: 1\nArchitecture: all\n\n' >"$packages"
        printf 'Origin: %s\nSuite: %s\nDate: %s\nSHA256:\n %s %s %s\n' "$origin" "$suite" \
            "$(date -uR)" "$(sha256sum <"$packages" | cut -d' ' -f1)" "$(stat -c %s "$packages")" \
            "${packages#"$dir/dists/$suite/"}" >"$dir/dists/$suite/Release"
    done
}

# Debian's mirror through a mirror list, and Docker's and PostgreSQL's repositories sorting
# before it, none of them in the lists yet.
suites_test() {
    . "$top/scripts/setup.sh"
    local c
    c=$(host_codename)
    local_repository "$out/debian" Debian "$c" "$c-updates"
    local_repository "$out/a-docker" Docker "$c"
    local_repository "$out/a-pgdg" PostgreSQL "$c-pgdg"
    printf '# comment\nfile:%s\tpriority:1\n' "$out/debian" >"$out/mirrors.list"
    printf 'deb [trusted=yes] %s main\n' "mirror+file:$out/mirrors.list $c" "mirror+file:$out/mirrors.list $c-updates" \
        "file:$out/a-docker $c" "file:$out/a-pgdg $c-pgdg" >"$out/sources.list"
    mkdir -p "$out/lists/partial" "$out/cache" "$out/parts"
    printf '%s "%s";\n' Dir::Etc::SourceList "$out/sources.list" Dir::Etc::SourceParts "$out/parts" \
        Dir::State::Lists "$out/lists" Dir::Cache "$out/cache" APT::Sandbox::User root >"$out/apt.conf"
    local named
    named=$(APT_CONFIG=$out/apt.conf SNOWINTRO_APT_UPDATED='' debian_suites sid)
    # apt-get update ran as root and left root's files there, which a user cannot remove.
    as_root rm -rf "$out/lists" "$out/cache"
    [ "$named" = "file:$out/debian/ sid"$'\n'"file:$out/debian/ sid-updates" ] ||
        fail "the mirrors named for Debian's suites: ${named:-none}"
    echo "Debian's mirrors alone, as plain URIs, after downloading the lists"
}

case $mode in
run)
    "$top/scripts/fresh_root.sh" --out "$out" "$release" './run.sh && cp build/screenshot.png /out/' ||
        fail "./run.sh as the first command on a fresh Debian $release"
    check_logo "$out/screenshot.png"
    echo "Debian $release: ./run.sh as the first command showed the logo at (190, 50)"
    ;;
deb)
    cp "${3:?$usage}" "$out/snowintro.deb"
    arch=$(dpkg-deb -f "$out/snowintro.deb" Architecture)
    case $release in
    13 | trixie) pictures=scaled_pictures ;;
    *) pictures=unscaled_pictures ;;
    esac
    arch_option=()
    [ "$arch" = "$(dpkg --print-architecture)" ] || arch_option=(--arch "$arch")
    "$top/scripts/fresh_root.sh" --out "$out" "${arch_option[@]}" "$release" \
        "$(declare -f on_desktop $pictures); on_desktop $pictures" ||
        fail "the $arch package on a fresh Debian $release (see above)"
    [ ! -s "$out/left" ] || fail "the purge left $(tr '\n' ' ' <"$out/left")"
    if [ $pictures = unscaled_pictures ]; then
        check_logo "$out/launcher.png"
        # Snow falls through the rows above the logo: there are flakes, and a second later
        # they are elsewhere.
        sky=640x48+0+1
        flakes=$(lit_pixels "$out/launcher.png" $sky)
        [ "$flakes" -ge 20 ] || fail "$flakes lit pixels above the logo: hardly any snow"
        convert "$out/later.png" -crop $sky +repage "$out/later-sky.png"
        moved=$(misses "$out/launcher.png" $sky "$out/later-sky.png")
        [ "$moved" -gt 0 ] || fail "the snow above the logo stood still for a second"
        seen="the logo at (190, 50) and falling snow"
    else
        # The 640x480 picture fills the 1080-row screen's height, 2.25 screen pixels a pixel,
        # pillarboxed: the logo's 260x72 at (190, 50) covers (667.5, 112.5) to (1252.5, 274.5).
        # Three pixels in from its edges, every colour is the logo's when scaled whole.
        logo_area=578x155+671+116
        foreign=$(foreign_pixels "$out/launcher.png" $logo_area)
        [ "$foreign" = 0 ] || fail "from the launcher, $foreign pixels of the logo are in colours logo.bmp lacks"
        smoothed=$(foreign_pixels "$out/program.png" $logo_area)
        [ "$smoothed" != 0 ] || fail "without the launcher the logo is crisp too, so the check cannot tell"
        seen="a crisp logo ($smoothed smoothed pixels without its launcher)"
    fi
    echo "Debian $release $arch: the package installed with apt, showed $seen from /, ended with 0" \
        "on a key, validated, and purged clean"
    ;;
stop)
    stop_test
    ;;
suites)
    suites_test
    ;;
*)
    fail "$usage"
    ;;
esac
