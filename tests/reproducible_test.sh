#!/usr/bin/env bash
# reproducible_test.sh [TARGET...]: builds the release artifacts (default: deb deb-arm64 web
# windows) from two clones of the committed tree, in different folders and one after the
# other, and checks that their dist/SHA256SUMS agree and that nothing in them names the
# folder it was built in. On a difference it names the artifact and its first member that
# differs, in content or in its archive entry (time, owner, mode, order).
# The clones reuse this tree's cached Windows libraries and source packages
# (build-windows/), so only the project itself is built twice.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(deb deb-arm64 web windows)
work=$(mktemp -d /var/tmp/snowintro-rebuild.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# A clone of the commit at $1, its release built there.
build_in() {
    local clone=$1/snowintro
    mkdir -p "$1"
    git clone -q "$top" "$clone"
    local cached
    for cached in libs sources apt; do
        [ ! -d "$top/build-windows/$cached" ] || { mkdir -p "$clone/build-windows" &&
            cp -al "$top/build-windows/$cached" "$clone/build-windows/"; }
    done
    (cd "$clone" && ./release.sh "${targets[@]}") >"$1.log" 2>&1 || fail "release.sh failed in $clone: $(tail -n 3 "$1.log")"
}

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
    local a=$work/a/snowintro/dist/$1 b=$work/b/later/snowintro/dist/$1
    case $1 in
    *.deb | *.zip | *.tar.*)
        diff <(members "$a" "$work/a.unpacked/$1") <(members "$b" "$work/b.unpacked/$1") | grep -m 1 '^[<>]' ||
            echo "(the members are the same; the archive itself differs)" ;;
    *)
        cmp "$a" "$b" | sed 's/.*differ: //' ;;
    esac
}

started=$SECONDS
build_in "$work/a"
build_in "$work/b/later"
sums_a=$work/a/snowintro/dist/SHA256SUMS sums_b=$work/b/later/snowintro/dist/SHA256SUMS
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
echo "$(wc -l <"$sums_a") files of ${targets[*]} the same from two clones, none naming its folder ($((SECONDS - started)) s)"
