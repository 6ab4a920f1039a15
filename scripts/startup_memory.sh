#!/usr/bin/env bash
# startup_memory.sh: the real intro's time from launch to its first shown frame and its peak
# memory, on the classic SDL 1.2 and on sdl12-compat. Installs what is missing (among it the
# `time` package for /usr/bin/time -v, and libsdl1.2-compat), builds a Release snowintro into
# build-bench, and preloads scripts/first_frame_shim.c, which times the first SDL_Flip and
# raises SIGTERM after SNOW_FRAMES frames (SDL makes that a quit request: status 0).
#
# Usage: scripts/startup_memory.sh [runs per runtime, default 5]
# Goals: first frame within 100 ms, peak memory under 40 MB. Prints figures; never fails on them.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/setup.sh

RUNS=${1:-5}
BUILD=build-bench
COMPAT_DIR=/usr/lib/x86_64-linux-gnu/sdl12-compat
export SNOW_FRAMES=${SNOW_FRAMES:-300}

ensure_packages "${BUILD_PACKAGES[@]}" gcc time libsdl1.2-compat
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$BUILD" --target snowintro -j"$(nproc)" >/dev/null
gcc -O2 -Wall -shared -fPIC -o "$BUILD/first_frame_shim.so" scripts/first_frame_shim.c -ldl
SHIM=$PWD/$BUILD/first_frame_shim.so
BIN=$PWD/$BUILD/snowintro
LOG=$(mktemp -d)
trap 'rm -rf "$LOG"' EXIT

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.2f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# One runtime: RUNS launches from the assets folder (the intro opens its files by relative
# name), with dummy video and audio so no display or sound card is needed.
measure() {
    local name=$1 libdir=$2 i ms=() kb=() sdl=""
    for ((i = 0; i < RUNS; i++)); do
        local t0=$EPOCHREALTIME
        # timeout only guards against a shim that never fires; a normal run ends by itself.
        (cd assets && SNOW_T0_US=${t0/./} LD_LIBRARY_PATH=$libdir LD_PRELOAD=$SHIM \
            SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy \
            timeout -k 5 60 /usr/bin/time -v -o "$LOG/time.txt" "$BIN" >"$LOG/out.txt" 2>"$LOG/err.txt") || {
            echo "$name run $((i + 1)) failed:" >&2
            cat "$LOG/err.txt" "$LOG/time.txt" >&2
            return 1
        }
        ms+=("$(sed -n 's/^first_frame_ms=\([0-9.]*\).*/\1/p' "$LOG/err.txt")")
        sdl=$(sed -n 's/.* sdl=\([0-9.]*\).*/\1/p' "$LOG/err.txt")
        kb+=("$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$LOG/time.txt")")
    done
    local ms_med ms_min rss_med rss_max
    ms_med=$(printf '%s\n' "${ms[@]}" | median)
    ms_min=$(printf '%s\n' "${ms[@]}" | sort -g | head -1)
    rss_med=$(printf '%s\n' "${kb[@]}" | median)
    rss_max=$(printf '%s\n' "${kb[@]}" | sort -g | tail -1)
    printf '%-12s SDL %-7s first frame %7.2f ms median, %7.2f ms best   peak RSS %5.1f MB median, %5.1f MB max\n' \
        "$name" "$sdl" "$ms_med" "$ms_min" "$(awk "BEGIN { print $rss_med / 1024 }")" \
        "$(awk "BEGIN { print $rss_max / 1024 }")"
    echo "             first frame of each run (ms): ${ms[*]}"
}

echo "$(nproc) cores, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1); $RUNS runs each, $SNOW_FRAMES frames per run"
measure classic ""
[ -e "$COMPAT_DIR/libSDL-1.2.so.0" ] && measure sdl12-compat "$COMPAT_DIR"
echo "goals: first frame <= 100 ms, peak RSS < 40 MB (1 MB = 1024 kB)"
