#!/usr/bin/env bash
# startup_memory.sh: the real intro's time from launch to its first shown frame, its peak
# memory, its frame rate and its processor time, on the classic SDL 1.2 and on sdl12-compat.
# Installs what is missing (among it the `time` package for /usr/bin/time -v, and
# libsdl1.2-compat), builds a Release snowintro into build-bench, and preloads
# scripts/measure/first_frame_shim.c, which times the first SDL_Flip, counts the frames and the
# processor time of the following SNOW_SECONDS (default 4), then raises SIGTERM (SDL makes
# that a quit request: status 0).
#
# Usage: scripts/measure/startup_memory.sh [--xvfb] [runs per runtime, default 5]
#   default: SDL's dummy video driver, no display needed
#   --xvfb:  a private 640x480x16 Xvfb and SDL's x11 driver, a real X server; the X server's
#            own processor time is reported beside the intro's
# SNOW_WATCH_TEXT=1 instead runs each launch until the scroller's message has left the
# screen (about two and a half minutes) and reports when that was.
# The runtimes take turns run by run, so a burst of load on this shared machine hits both;
# figures are medians. Goals: first frame within 100 ms, peak memory under 40 MB. Prints
# figures; never fails on them.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/setup.sh

XVFB=0
if [ "${1:-}" = --xvfb ]; then
    XVFB=1
    shift
fi
RUNS=${1:-5}
BUILD=build-bench
COMPAT_DIR=/usr/lib/x86_64-linux-gnu/sdl12-compat
export SNOW_SECONDS=${SNOW_SECONDS:-4}

ensure_packages "${BUILD_PACKAGES[@]}" gcc time libsdl1.2-compat
[ $XVFB = 0 ] || ensure_packages xvfb
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$BUILD" --target snowintro -j"$(nproc)" >/dev/null
# shellcheck disable=SC2046 # pkg-config prints several flags
gcc -O2 -Wall -shared -fPIC $(pkg-config --cflags sdl) -o "$BUILD/first_frame_shim.so" \
    scripts/measure/first_frame_shim.c -ldl
SHIM=$PWD/$BUILD/first_frame_shim.so
BIN=$PWD/$BUILD/snowintro
LOG=$(mktemp -d)
xvfb=""
trap '[ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true; rm -rf "$LOG"' EXIT

VIDEO=(SDL_VIDEODRIVER=dummy)
if [ $XVFB = 1 ]; then
    # A display number of its own (-displayfd), and no reset between the runs' clients.
    exec 3<>"$LOG/displayfd"
    Xvfb -displayfd 3 -screen 0 640x480x16 -nolisten tcp -nocursor -noreset 2>"$LOG/xvfb.txt" &
    xvfb=$!
    for _ in $(seq 100); do [ -s "$LOG/displayfd" ] && break; sleep 0.1; done
    exec 3>&-
    [ -s "$LOG/displayfd" ] || { echo "startup_memory.sh: Xvfb did not start: $(cat "$LOG/xvfb.txt")" >&2; exit 1; }
    VIDEO=(SDL_VIDEODRIVER=x11 "DISPLAY=:$(head -n 1 "$LOG/displayfd")" "SNOW_SERVER_PID=$xvfb")
fi

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.2f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
# The value of key=... in the shim's report.
field() { sed -n "s/.*\\b$1=\\([0-9.]*\\).*/\\1/p" "$LOG/err.txt" | tail -1; }

# Milliseconds of processor time a frame, from a percentage of a core and a frame rate.
per_frame() { awk -v pct="$1" -v fps="$2" 'BEGIN { print pct * 10 / fps }'; }

# One launch on one runtime, from the assets folder (the intro opens its files by relative
# name), with dummy audio so no sound card is needed; appends its figures to $LOG/NAME.*.
run_once() {
    local name=$1 libdir=$2 t0=$EPOCHREALTIME
    # timeout only guards against a shim that never fires; a normal run ends by itself.
    (cd assets && env SNOW_T0_US="${t0/./}" LD_LIBRARY_PATH="$libdir" LD_PRELOAD="$SHIM" "${VIDEO[@]}" \
        SDL_AUDIODRIVER=dummy timeout -k 5 300 /usr/bin/time -v -o "$LOG/time.txt" "$BIN" \
        >"$LOG/out.txt" 2>"$LOG/err.txt") || {
        echo "$name run failed:" >&2
        cat "$LOG/err.txt" "$LOG/time.txt" >&2
        return 1
    }
    local key value
    for key in first_frame_ms fps cpu_pct server_cpu_pct text_gone_s; do
        value=$(field $key)
        [ -z "$value" ] || echo "$value" >>"$LOG/$name.$key"
    done
    # Processor time per frame counts less of the waiting for a core that load adds.
    per_frame "$(field cpu_pct)" "$(field fps)" >>"$LOG/$name.cpu_ms"
    per_frame "$(field server_cpu_pct)" "$(field fps)" >>"$LOG/$name.server_cpu_ms"
    field sdl >"$LOG/$name.sdl"
    sed -n 's/.*Maximum resident set size (kbytes): //p' "$LOG/time.txt" >>"$LOG/$name.kb"
}

# Median of one figure of one runtime; with "max" or "min", that extreme instead.
stat() {
    case ${3:-median} in
    max) sort -g "$LOG/$1.$2" | tail -1 ;;
    min) sort -g "$LOG/$1.$2" | head -1 ;;
    *) median <"$LOG/$1.$2" ;;
    esac
}

report() {
    local name=$1
    printf '%-12s SDL %-7s first frame %7.2f ms median, %7.2f ms best   peak RSS %5.1f MB median, %5.1f MB max\n' \
        "$name" "$(cat "$LOG/$name.sdl")" "$(stat "$name" first_frame_ms)" "$(stat "$name" first_frame_ms min)" \
        "$(awk "BEGIN { print $(stat "$name" kb) / 1024 }")" "$(awk "BEGIN { print $(stat "$name" kb max) / 1024 }")"
    printf '             %6.0f frames/s; intro %5.1f%% of a core, %.2f ms a frame' "$(stat "$name" fps)" \
        "$(stat "$name" cpu_pct)" "$(stat "$name" cpu_ms)"
    [ $XVFB = 0 ] && echo ||
        printf '; X server %.1f%%, %.2f ms a frame\n' "$(stat "$name" server_cpu_pct)" "$(stat "$name" server_cpu_ms)"
    [ ! -s "$LOG/$name.text_gone_s" ] ||
        echo "             the message left the screen $(stat "$name" text_gone_s) s after the first frame"
    echo "             first frame of each run (ms): $(tr '\n' ' ' <"$LOG/$name.first_frame_ms")"
}

names=(classic)
libdirs=("")
if [ -e "$COMPAT_DIR/libSDL-1.2.so.0" ]; then
    names+=(sdl12-compat)
    libdirs+=("$COMPAT_DIR")
fi
what="${SNOW_SECONDS} s of running after it"
[ -z "${SNOW_WATCH_TEXT:-}" ] || what="running until the message has gone"
video="SDL's dummy video driver"
[ $XVFB = 0 ] || video="a private 640x480x16 Xvfb"
echo "$(nproc) cores, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1); $video; $RUNS runs each, taking turns; first frame, then $what"
load() { cut -d' ' -f1-3 /proc/loadavg; }
load_before=$(load)
for ((i = 0; i < RUNS; i++)); do
    for j in "${!names[@]}"; do run_once "${names[$j]}" "${libdirs[$j]}"; done
done
echo "load average (1, 5, 15 min) before the runs $load_before, after them $(load)"
for name in "${names[@]}"; do report "$name"; done
if [ ${#names[@]} = 2 ] && [ -z "${SNOW_WATCH_TEXT:-}" ]; then
    awk -v f1="$(stat classic first_frame_ms)" -v f2="$(stat sdl12-compat first_frame_ms)" \
        -v m1="$(stat classic kb)" -v m2="$(stat sdl12-compat kb)" \
        -v r1="$(stat classic fps)" -v r2="$(stat sdl12-compat fps)" 'BEGIN {
        printf "sdl12-compat / classic, medians of this run: first frame %.1fx, peak RSS %.1fx, frames/s %.2fx\n",
            f2 / f1, m2 / m1, r2 / r1 }'
fi
echo "goals: first frame <= 100 ms, peak RSS < 40 MB (1 MB = 1024 kB)"
