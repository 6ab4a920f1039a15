#!/usr/bin/env bash
# fuzz_font.sh [seconds]: builds the font fuzzer (tests/fuzz_font.cpp) with clang's libFuzzer,
# AddressSanitizer and UBSan into build-fuzz/, has it write its seed sheets, and fuzzes for a
# bounded time (default 45 s). Exits non-zero on any crash, leak or timeout.
# Needs the Debian packages clang and libclang-rt-14-dev (plus libsdl1.2-dev).
set -euo pipefail
cd "$(dirname "$0")/.."

secs=${1:-45}
out=build-fuzz
cxx=${FUZZ_CXX:-$(command -v clang++-14 || command -v clang++ || true)}
if [ -z "$cxx" ]; then
    echo "fuzz_font.sh: clang++ not found (install clang and libclang-rt-14-dev)" >&2
    exit 1
fi
read -r -a sdl <<<"$(pkg-config --cflags --libs sdl)"

rm -rf "$out/seeds"
mkdir -p "$out/seeds" "$out/corpus"
"$cxx" -std=c++17 -g -O1 -fno-omit-frame-pointer -Isrc \
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    tests/fuzz_font.cpp src/SFonttr.cpp "${sdl[@]}" -o "$out/fuzz_font"

export SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
FUZZ_FONT_SEEDS="$out/seeds" "$out/fuzz_font"
cp assets/font.bmp "$out/seeds/font.bmp"
"$out/fuzz_font" -max_total_time="$secs" -timeout=10 -rss_limit_mb=2048 -max_len=100000 \
    -print_final_stats=1 -artifact_prefix="$out/" "$out/corpus" "$out/seeds"
