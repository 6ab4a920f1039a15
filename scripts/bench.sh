#!/usr/bin/env bash
# bench.sh: builds the frame benchmark (Release, into build-bench) and runs it on the classic
# SDL 1.2 and on sdl12-compat. Installs what is missing (Google Benchmark, libsdl1.2-compat).
#
# Usage: scripts/bench.sh [frame_bench arguments]
#   default: --benchmark_repetitions=5 --benchmark_report_aggregates_only=true (medians)
# Prints figures and the frame/clear ratio (goal <= 1.3); never fails on timing.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/setup.sh

BUILD=build-bench
COMPAT_DIR=/usr/lib/x86_64-linux-gnu/sdl12-compat
ARGS=("$@")
[ ${#ARGS[@]} -gt 0 ] || ARGS=(--benchmark_repetitions=5 --benchmark_report_aggregates_only=true)

ensure_packages "${BUILD_PACKAGES[@]}" libbenchmark-dev libsdl1.2-compat
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$BUILD" --target frame_bench -j"$(nproc)" >/dev/null

echo "$(nproc) cores, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1)"
echo "=== classic SDL 1.2"
"$BUILD/bench/frame_bench" "${ARGS[@]}"
if [ -e "$COMPAT_DIR/libSDL-1.2.so.0" ]; then
    echo "=== sdl12-compat"
    LD_LIBRARY_PATH=$COMPAT_DIR "$BUILD/bench/frame_bench" "${ARGS[@]}"
fi
