# setup.sh: sourced by run.sh, test.sh, release.sh and the asset script; installs missing
# Debian packages, builds, names the machine's Debian mirrors, and reads the project version.

# Installs those of the named packages that are not installed yet, quietly, running
# apt-get update once per shell; through sudo when not root.
ensure_packages() {
    local missing=() pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'ok installed' || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    echo "Installing: ${missing[*]}"
    if [ -z "${SNOWINTRO_APT_UPDATED:-}" ]; then
        "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=600 update -qq
        export SNOWINTRO_APT_UPDATED=1 # release.sh runs several scripts that source this
    fi
    # Without apt-utils, debconf says on every install that it configures afterwards.
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq \
        --no-install-recommends "${missing[@]}" 2>&1 >/dev/null | { grep -v '^debconf: delaying package configuration' || true; } >&2
    return "${PIPESTATUS[0]}"
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
# its apt configuration names them.
debian_suites() {
    # shellcheck disable=SC2016 # apt's own placeholders
    apt-get indextargets --format '$(REPO_URI) $(RELEASE)' 'Created-By: Packages' |
        awk -v from="$(host_codename)" -v to="$1" \
            'from != "" && ($2 == from || index($2, from "-") == 1) { sub("^" from, to, $2); print }' |
        sort -u
}

# The project version, from the one place it is set: project() in CMakeLists.txt.
project_version() {
    sed -n 's/^project(snowintro VERSION \([0-9.]*\).*/\1/p' "$(dirname "${BASH_SOURCE[0]}")/../CMakeLists.txt"
}
