#!/usr/bin/env bash
# Runs the whole ctest suite RUNS times in a row (default 20) at full parallel load, to show that it never flakes:
#   scripts/stress-tests.sh [RUNS] [CTEST ARGS...]
# Builds first, then each run starts a harness of its own (a fresh display, sink, Wine prefix and wineserver, as
# the test command and CI get) and runs ctest with -j twice the core count (QV_STRESS_JOBS overrides). Stops at the
# first failing run and names the run and the tests that failed; each run's output is kept in build/stress/.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${QV_BUILD_DIR:-$root/build}
runs=${1:-20}
shift || true
jobs=${QV_STRESS_JOBS:-$(($(nproc) * 2))}
logs=$build/stress

# Two suites on one build tree share the tests' working folders and fail each other.
mkdir -p "$build"
exec 9>"$build/stress.lock"
flock -n 9 || { echo "stress: another run is using $build" >&2; exit 1; }

"$root/scripts/build.sh"
rm -rf "$logs"
mkdir -p "$logs"
failed_list=$build/Testing/Temporary/LastTestsFailed.log
began=$(date +%s)
slowest=0
for run in $(seq "$runs"); do
    log=$logs/run-$run.log
    start=$(date +%s)
    rm -f "$failed_list"
    if ! "$root/scripts/harness.sh" ctest --test-dir "$build" --output-on-failure -j "$jobs" "$@" >"$log" 2>&1; then
        echo "stress: run $run of $runs failed (-j $jobs); output in $log"
        if [ -s "$failed_list" ]; then
            echo "stress: failed tests: $(cut -d: -f2 "$failed_list" | tr '\n' ' ')"
        else
            tail -n 20 "$log"
        fi
        echo "stress: $((run - 1)) of $runs runs passed before the failure"
        exit 1
    fi
    took=$(($(date +%s) - start))
    [ "$took" -gt "$slowest" ] && slowest=$took
    echo "stress: run $run of $runs passed in ${took} s ($(grep -m1 -o '[0-9]*% tests passed.*' "$log"))"
done
echo "stress: all $runs runs passed with -j $jobs in $(($(date +%s) - began)) s (slowest run ${slowest} s)"
