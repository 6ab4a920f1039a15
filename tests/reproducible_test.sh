#!/usr/bin/env bash
# reproducible_test.sh [TARGET...]: builds the release artifacts (default: deb deb-arm64 web
# windows) from two clones of the committed tree, one after the other, and checks that their
# dist/SHA256SUMS agree, that nothing in them names the folder it was built in, and that
# release.sh listed all it made. On a difference it names the artifact and its first member
# that differs, in content or in its archive entry (time, owner, mode, order).
# The first clone reuses this tree's cached Windows libraries and source packages
# (build-windows/). The second builds the libraries itself, from cached source packages one
# of which an interrupted download cut short, in a folder whose name has a space, with
# another umask, time zone and locale.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(deb deb-arm64 web windows)
work=$(mktemp -d /var/tmp/snowintro-rebuild.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
commit=$(git -C "$top" rev-parse HEAD) # both clones of it, should a commit come in between

# A clone of the commit at $1 made and its release built there with the umask $2 and the
# environment's settings $3...; with this tree's cached Windows libraries for 022, else
# without them and with one of the cached source packages cut short.
build_in() (
    local dir=$1 clone=$1/snowintro mask=$2 cached
    shift 2
    umask "$mask"
    mkdir -p "$dir"
    git clone -q "$top" "$clone"
    git -C "$clone" checkout -q "$commit"
    mkdir -p "$clone/build-windows"
    [ ! -d "$top/build-windows/apt" ] || cp -al "$top/build-windows/apt" "$clone/build-windows/"
    if [ "$mask" = 022 ]; then
        for cached in libs sources; do
            [ ! -d "$top/build-windows/$cached" ] || cp -al "$top/build-windows/$cached" "$clone/build-windows/"
        done
    elif [ -d "$top/build-windows/sources" ]; then
        cp -a "$top/build-windows/sources" "$clone/build-windows/"
        for cached in "$clone"/build-windows/sources/libsdl1.2_*.orig.tar.*; do
            [ ! -e "$cached" ] || truncate -s 1000 "$cached"
        done
    fi
    (cd "$clone" && env "$@" ./release.sh "${targets[@]}") >"$dir.log" 2>&1 ||
        fail "release.sh failed in $clone: $(tail -n 3 "$dir.log")"
    # All of a new clone's dist/ is this run's, and so on the list it printed.
    sed -n '/^== SHA-256/,$p' "$dir.log" | sed 1d | cmp -s - "$clone/dist/SHA256SUMS" ||
        fail "release.sh in $clone did not list all it made"
)

# Lists an artifact's members one a line, each with its archive entry, then their contents'
# SHA-256 after unpacking them into $2.
members() {
    local file=$1 into=$2
    mkdir -p "$into"
    case $file in
    *.deb)
        dpkg-deb -c "$file"
        dpkg-deb -R "$file" "$into" ;;
    *.zip)
        zipinfo -T -l "$file" | sed 1d # the first line names the file
        unzip -q "$file" -d "$into" ;;
    *.tar.*)
        tar -tv --full-time -f "$file"
        tar -xf "$file" -C "$into" ;;
    esac
    (cd "$into" && find . -type f -printf '%P\n' | LC_ALL=C sort | xargs -r -d '\n' sha256sum)
}

# The first line where the two artifacts' member lists part; for a file that is no archive,
# its first differing byte.
first_difference() {
    local a=$work/a/snowintro/dist/$1 b=$second/snowintro/dist/$1
    case $1 in
    *.deb | *.zip | *.tar.*)
        diff <(members "$a" "$work/a.unpacked/$1") <(members "$b" "$work/b.unpacked/$1") | grep -m 1 '^[<>]' ||
            echo "(the members are the same; the archive itself differs)" ;;
    *)
        cmp "$a" "$b" | sed 's/.*differ: //' ;;
    esac
}

started=$SECONDS
build_in "$work/a" 022 TZ=UTC LC_ALL=C
first=$((SECONDS - started))
second="$work/b/later on"
build_in "$second" 077 TZ=Pacific/Kiritimati LC_ALL=C.UTF-8
sums_a=$work/a/snowintro/dist/SHA256SUMS sums_b=$second/snowintro/dist/SHA256SUMS
if ! cmp -s "$sums_a" "$sums_b"; then
    diff <(sort -k 2 "$sums_a") <(sort -k 2 "$sums_b") >"$work/sums.diff" || true
    sed -n 's/^[<>] [0-9a-f]*  //p' "$work/sums.diff" | sort -u | while read -r name; do
        echo "$name differs: $(first_difference "$name")"
    done
    fail "two builds of one commit differ"
fi

# Nor may anything shipped name the folder it was built in.
dist=$work/a/snowintro/dist
while read -r name; do
    members "$dist/$name" "$work/a.unpacked/$name" >/dev/null
done < <(cd "$dist" && find . -type f -printf '%P\n')
named=$(grep -rlaF "$work/a" "$dist" "$work/a.unpacked" | sed "s|^$work/a[^/]*/||") || true
[ -z "$named" ] || fail "these name the folder they were built in: $named"
echo "$(wc -l <"$sums_a") files of ${targets[*]} the same from two clones, none naming its folder" \
    "(the first in $first s, the second, with its own Windows libraries, in $((SECONDS - started - first)) s)"
