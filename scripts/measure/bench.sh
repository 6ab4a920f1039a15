#!/usr/bin/env bash
# bench.sh: builds the frame benchmark (Release, into build-bench) and runs it on the classic
# SDL 1.2 and on sdl12-compat. Installs what is missing (Google Benchmark, libsdl1.2-compat).
#
# Usage: scripts/measure/bench.sh [frame_bench arguments]
#   default: 9 repetitions in random order, medians reported
#        scripts/measure/bench.sh --callgrind
#   instructions per clear, frame and late frame under callgrind (valgrind): slower, but the
#   same on every run and untouched by other load on the machine.
# Prints figures and the frame/clear ratio (goal <= 1.3); never fails on timing.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/setup.sh

BUILD=build-bench
COMPAT_DIR=/usr/lib/x86_64-linux-gnu/sdl12-compat
ARGS=("$@")
# Repetitions in random order, so a burst of load on a shared machine does not land on
# one benchmark only; the ratios use the medians.
[ ${#ARGS[@]} -gt 0 ] || ARGS=(--benchmark_repetitions=9 --benchmark_enable_random_interleaving=true
                          --benchmark_report_aggregates_only=true)

CALLGRIND=0
if [ "${1:-}" = --callgrind ]; then
    CALLGRIND=1
    ARGS=()
fi

ensure_packages "${BUILD_PACKAGES[@]}" libbenchmark-dev libsdl1.2-compat
[ $CALLGRIND = 0 ] || ensure_packages valgrind
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$BUILD" --target frame_bench -j"$(nproc)" >/dev/null

echo "$(nproc) cores, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1)"

# Instructions per call of FUNC while one benchmark runs: the callee's inclusive count over
# its calls, so the benchmark's own iteration count does not matter. Where several symbols
# match (sdl12-compat's wrapper and SDL 2's function), the outermost, largest one counts.
instructions() {
    local libdir=$1 filter=$2 func=$3 out
    out=$(mktemp)
    LD_LIBRARY_PATH=$libdir valgrind --tool=callgrind --callgrind-out-file="$out" \
        "$BUILD/bench/frame_bench" --benchmark_filter="$filter" --benchmark_min_time=0.05 >/dev/null 2>&1
    callgrind_annotate --tree=caller --inclusive=yes "$out" 2>/dev/null | awk -v f="$func" '
        /^ *[0-9,]+ .*< / { c = $0; sub(/.*\(/, "", c); sub(/x\).*/, "", c); calls += c; next }
        /^ *[0-9,]+ .*\* / { if (index($0, f) && calls > 0) { ir = $1; gsub(",", "", ir);
                             if (ir / calls > best) best = ir / calls } calls = 0; next }
        { calls = 0 }
        END { printf "%.0f\n", best }'
    rm -f "$out"
}

callgrind_report() {
    local libdir=$1 clear frame late
    clear=$(instructions "$libdir" 'BM_Clear$' SDL_FillRect)
    frame=$(instructions "$libdir" 'BM_Frame$' 'draw()')
    late=$(instructions "$libdir" 'BM_LateFrame$' 'draw()')
    echo "instructions per call: clear $clear, frame $frame, late frame $late"
    awk -v c="$clear" -v f="$frame" -v l="$late" 'BEGIN {
        printf "by instructions: frame/clear %.2f, late frame/clear %.2f\n", f / c, l / c }'
}

if [ $CALLGRIND = 1 ]; then
    echo "=== classic SDL 1.2"
    callgrind_report ""
    if [ -e "$COMPAT_DIR/libSDL-1.2.so.0" ]; then
        echo "=== sdl12-compat"
        callgrind_report "$COMPAT_DIR"
    fi
    exit 0
fi
echo "=== classic SDL 1.2"
"$BUILD/bench/frame_bench" "${ARGS[@]}"
if [ -e "$COMPAT_DIR/libSDL-1.2.so.0" ]; then
    echo "=== sdl12-compat"
    LD_LIBRARY_PATH=$COMPAT_DIR "$BUILD/bench/frame_bench" "${ARGS[@]}"
fi
