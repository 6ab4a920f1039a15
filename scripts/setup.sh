# setup.sh: sourced by run.sh and test.sh; installs missing Debian packages and builds.

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
        "${sudo[@]}" apt-get update -qq
        SNOWINTRO_APT_UPDATED=1
    fi
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# What building the intro needs.
BUILD_PACKAGES=(cmake g++ make pkg-config libsdl1.2-dev libsdl-mixer1.2-dev)

# Configures and builds into the given folder with any extra CMake arguments.
build_into() {
    local dir=$1
    shift
    cmake -S . -B "$dir" "$@" >/dev/null
    cmake --build "$dir" -j"$(nproc)" >/dev/null
}
