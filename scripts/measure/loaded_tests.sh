#!/usr/bin/env bash
# loaded_tests.sh [RUNS]: how the test suite fares on a busy machine. Runs ctest on both of
# ./test.sh's trees as it does (build/, then build-asan/ without the labels it skips there)
# once on the machine as it is, then RUNS times (default 3) while stress-ng keeps every core
# and the disk busy. Prints, for each entry, how often it failed under load and its slowest
# loaded time beside its idle time. ./test.sh must have built both trees; the raw ctest
# output of every pass is kept in build/loaded-tests/. Never fails on a failed entry: it
# measures.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/setup.sh

runs=${1:-3}
[[ $runs =~ ^[1-9][0-9]*$ ]] || { echo "usage: loaded_tests.sh [RUNS]" >&2; exit 1; }
for tree in build build-asan; do
    [ -f "$tree/CTestTestfile.cmake" ] || { echo "loaded_tests.sh: $tree/ is not built; run ./test.sh first" >&2; exit 1; }
done
ensure_packages stress-ng

logs=build/loaded-tests
rm -rf "$logs"
mkdir -p "$logs"
stress="" scratch=$(mktemp -d /var/tmp/loaded-tests.XXXXXX)
trap '[ -z "$stress" ] || kill "$stress" 2>/dev/null; wait; rm -rf "$scratch"' EXIT

# One pass over both trees, as ./test.sh runs them; their output into $logs/PASS-TREE.log.
suite() {
    ctest --test-dir build --output-on-failure >"$logs/$1-build.log" 2>&1 || true
    ctest --test-dir build-asan --output-on-failure -LE "$SANITIZER_SKIPPED_LABELS" \
        >"$logs/$1-build-asan.log" 2>&1 || true
}

# "entry passed|failed seconds" for each entry of pass $1, the sanitizer tree's marked
# "(asan)". ctest prints " 3/51 Test  #3: e2e ..........   Passed   12.34 sec".
results() {
    local tree
    for tree in build build-asan; do
        awk -v mark="$([ $tree = build ] || echo '(asan)')" '/ Test +#[0-9]+: / {
            status = ($0 ~ / Passed /) ? "passed" : "failed"
            for (i = NF; i > 0; i--) if ($i == "sec") { secs = $(i - 1); break }
            print $4 mark, status, secs
        }' "$logs/$1-$tree.log"
    done
}

echo "idle pass (load $(cut -d' ' -f1 /proc/loadavg))"
suite idle
# Every core busy computing and the disk written and synced, for the length of each pass.
for run in $(seq "$runs"); do
    stress-ng --cpu 0 --hdd 1 --hdd-bytes 256M --temp-path "$scratch" --timeout 0 --quiet &
    stress=$!
    sleep 5
    echo "loaded pass $run of $runs (load $(cut -d' ' -f1 /proc/loadavg))"
    suite "loaded-$run"
    kill "$stress"
    wait "$stress" 2>/dev/null || true
    stress=""
done

# The table: an entry's failures in the loaded passes, its idle time and its slowest loaded
# time, slowest first.
{
    results idle | sed 's/^/idle /'
    for run in $(seq "$runs"); do results "loaded-$run" | sed 's/^/loaded /'; done
} | awk -v runs="$runs" '
    $1 == "idle" { idle[$2] = $4; if ($3 == "failed") idle_failed[$2] = 1; order[++n] = $2 }
    $1 == "loaded" { if ($3 == "failed") failed[$2]++; if ($4 > slowest[$2]) slowest[$2] = $4 }
    END {
        printf "%-44s %8s %9s %11s %6s\n", "entry", "failed", "idle (s)", "loaded (s)", "ratio"
        for (i = 1; i <= n; i++) {
            e = order[i]
            printf "%-44s %4d of %d %9.1f %11.1f %6.1f%s\n", e, failed[e], runs, idle[e], slowest[e],
                (idle[e] > 0 ? slowest[e] / idle[e] : 0), idle_failed[e] ? "  (failed idle too)" : ""
        }
    }' | { read -r header; echo "$header"; sort -k6,6nr -k1,1; } | tee "$logs/table.txt"
echo "ctest's own output of each pass: $logs/"
