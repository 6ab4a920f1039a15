#!/usr/bin/env bash
# valgrind_run.sh [BINARY] [SECONDS] [SDL_LIBDIR]: runs the intro (default build/snowintro)
# under Valgrind's memcheck from a scratch copy of the assets, on the dummy drivers, and
# ends it with a quit request (SIGTERM, which SDL turns into SDL_QUIT) after SECONDS
# (default 6). SDL_LIBDIR goes on LD_LIBRARY_PATH to pick another SDL 1.2 runtime, such as
# sdl12-compat. Fails on any memory error, a definite leak, or an unclean end.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$(realpath "${1:-$root/build/snowintro}")
secs=${2:-6}
libdir=${3:-}

command -v valgrind >/dev/null || { echo "valgrind_run.sh: valgrind not found (install valgrind)" >&2; exit 1; }
runtime=()
if [ -n "$libdir" ]; then
    runtime=("LD_LIBRARY_PATH=$libdir")
    # Make sure the run really uses that runtime, not the classic library.
    libs=$(env "${runtime[@]}" ldd "$bin")
    grep -q "$libdir/libSDL-1.2" <<<"$libs" ||
        { echo "valgrind_run.sh: $bin does not pick up SDL from $libdir" >&2; exit 1; }
fi

# The intro opens its assets by relative name, so it runs inside a scratch copy.
scratch=$(mktemp -d /tmp/snowintro-valgrind-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
cp -r "$root/assets/." "$scratch/"
cd "$scratch"

# 99 marks Valgrind's own findings; -k kills a run that ignores the quit request.
status=0
env SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy "${runtime[@]}" \
    timeout --preserve-status -k 60 -s TERM "$secs" \
    valgrind --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite \
    --suppressions="$root/tests/valgrind.supp" --log-file=valgrind.log \
    "$bin" >run.log 2>&1 || status=$?

if [ "$status" -ne 0 ]; then
    cat run.log valgrind.log
    [ "$status" -eq 99 ] && echo "FAIL: memcheck found errors or definite leaks" ||
        echo "FAIL: the intro ended with status $status"
    exit 1
fi
grep -E 'definitely lost|ERROR SUMMARY' valgrind.log
echo "memcheck: clean run for ${secs}s${libdir:+ on $libdir}, ended with 0"
