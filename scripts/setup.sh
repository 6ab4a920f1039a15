# setup.sh: sourced by run.sh, test.sh, release.sh, the asset script and the package tests;
# installs missing Debian packages, builds, names the machine's Debian mirrors, validates
# metainfo, and reads the project version.

# Runs a command as root: through sudo when not root, keeping the caller's APT_CONFIG.
as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo env ${APT_CONFIG:+APT_CONFIG="$APT_CONFIG"} "$@"; fi
}

# apt-get as root, waiting for another apt's lock, printing only its errors. Without
# apt-utils, debconf says on every install that it configures afterwards: not an error.
apt_get() {
    as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 -qq "$@" 2>&1 >/dev/null |
        { grep -v '^debconf: delaying package configuration' || true; } >&2
    return "${PIPESTATUS[0]}"
}

# apt-get update, once per shell.
apt_update_once() {
    [ -z "${SNOWINTRO_APT_UPDATED:-}" ] || return 0
    as_root apt-get -o DPkg::Lock::Timeout=600 update -qq >&2
    export SNOWINTRO_APT_UPDATED=1 # release.sh runs several scripts that source this
}

# Installs those of the named packages that are not installed yet, quietly.
ensure_packages() {
    local missing=() pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'ok installed' || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    apt_update_once
    apt_get install -y --no-install-recommends "${missing[@]}"
}

# What building the intro needs.
BUILD_PACKAGES=(cmake g++ make pkg-config libsdl1.2-dev libsdl-mixer1.2-dev)

# What the Windows release needs on top: mingw-w64 (win32 thread model), the tools to fetch
# and unpack Debian's source packages, zip and xz.
WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev dpkg-dev
    patch zip xz-utils)

# The labels ./test.sh leaves out of its second pass, under ASan and UBSan: the fuzzer has
# its own sanitizers; the release artifacts' tests and the fresh roots' runs do not depend
# on how the tree was compiled.
SANITIZER_SKIPPED_LABELS='fuzz|package|fresh'

# Configures and builds into the given folder with any extra CMake arguments.
build_into() {
    local dir=$1
    shift
    cmake -S . -B "$dir" "$@" >/dev/null
    cmake --build "$dir" -j"$(nproc)" >/dev/null
}

# The codename of this machine's Debian release.
host_codename() { (. /etc/os-release && echo "${VERSION_CODENAME:-}"); }

# "URI SUITE" for each of the machine's Debian suites (its codename alone or with -updates,
# -security, ...), turned into the same suites of release $1: the machine's own mirrors, as
# its apt configuration names them. Only repositories whose Release file says Debian is
# their origin: others use the codename too (Docker's, PostgreSQL's bookworm-pgdg) and would
# need their signing keys. The origin is known from apt's lists, which container images
# often leave out; then they are downloaded first.
debian_suites() {
    local targets uri suite
    targets=$(debian_targets "$1")
    if [ -z "$targets" ]; then
        apt_update_once
        targets=$(debian_targets "$1")
    fi
    while read -r uri suite; do
        if [ -n "$uri" ] && uri=$(plain_mirror "$uri"); then echo "$uri $suite"; fi
    done <<<"$targets" | sort -u
}

debian_targets() {
    # shellcheck disable=SC2016 # apt's own placeholders
    apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(ORIGIN)' 'Created-By: Packages' |
        awk -v from="$(host_codename)" -v to="$1" \
            'NF == 3 && $3 == "Debian" && from != "" && ($2 == from || index($2, from "-") == 1) { sub("^" from, to, $2); print $1, $2 }'
}

# A repository's URI as debootstrap and a root without the machine's files can use it: a
# mirror list (mirror+file:, as in Debian's cloud images) gives its first mirror.
plain_mirror() {
    local uri=$1 list first
    case $uri in
    http://* | https://* | file:/*) echo "$uri" ;;
    mirror+file:/*)
        list=${uri#mirror+file:}
        list=${list%/}
        first=$(awk '$1 ~ /^(https?:\/\/|file:\/)/ { print $1; exit }' "$list" 2>/dev/null) ||
            { echo "setup.sh: cannot read the mirror list $list" >&2; return 1; }
        [ -n "$first" ] || { echo "setup.sh: the mirror list $list names no http, https or file: mirror" >&2; return 1; }
        echo "${first%/}/" ;;
    *) echo "setup.sh: leaving out $uri: only http, https, file: and mirror+file: repositories can be used" >&2; return 1 ;;
    esac
}

# appstreamcli validate --strict, offline, of the named metainfo files. AppStream 1.0 (Debian
# 13) also asks for a homepage and a developer, addresses the project does not have; anything
# else it reports fails. Earlier versions know neither tag.
validate_metainfo() {
    local validate=(appstreamcli validate --strict --no-net)
    [[ "$(appstreamcli --version)" =~ version:\ 0\. ]] ||
        validate+=(--override=url-homepage-missing=pedantic,developer-info-missing=pedantic)
    "${validate[@]}" "$@"
}

# The project version, from the one place it is set: project() in CMakeLists.txt.
project_version() {
    sed -n 's/^project(snowintro VERSION \([0-9.]*\).*/\1/p' "$(dirname "${BASH_SOURCE[0]}")/../CMakeLists.txt"
}
