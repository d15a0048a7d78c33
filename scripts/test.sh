#!/usr/bin/env bash
# Sets up, builds and runs every test: the host tests, the host blit benchmark once (its numbers never fail the
# run), then the Windows test programs and end-to-end checks under the Wine harness. At the end, also when a step
# fails, it prints how long each step took.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${QV_BUILD_DIR:-$root/build}

# Each step's name and start go to the marks file; scripts/build.sh and scripts/host-test.sh mark where their second
# step (the build after the set-up check, the fuzzing after the unit tests) starts. A step lasts until the next mark.
export QV_STEP_MARKS
QV_STEP_MARKS=$(mktemp /tmp/qvsteps.XXXXXX)
mark() { printf '%s\t%s\n' "$1" "$EPOCHREALTIME" >>"$QV_STEP_MARKS"; }
print_step_times() {
    mark end
    echo "step times:"
    awk -F '\t' 'NR == 1 { first = $2 }
        NR > 1 { printf "  %-26s %8.1f s %6.1f min\n", step, $2 - start, ($2 - start) / 60 }
        { step = $1; start = $2 }
        END { printf "  %-26s %8.1f s %6.1f min\n", "total", start - first, (start - first) / 60 }' "$QV_STEP_MARKS"
    rm -f "$QV_STEP_MARKS"
    [ -z "${closing:-}" ] || echo "$closing"
}
# Also when the command is killed: the play checks' harness is ended and the outputs kept meanwhile are removed.
play_pid=
play_output=
other_output=
finish() {
    status=$?
    [ -z "$play_pid" ] || kill "$play_pid" 2>/dev/null || true
    rm -f "$play_output" "$other_output"
    print_step_times
    exit "$status"
}
trap finish EXIT
trap 'exit 130' INT TERM

mark "set-up check"
"$root/scripts/build.sh"
mark "host build + host tests"
"$root/scripts/host-test.sh"
mark "host benchmark"
"$root/scripts/bench-host.sh"
mark "ctest"
if [ $# -gt 0 ]; then # the caller's own selection: one harness
    "$root/scripts/harness.sh" ctest --test-dir "$build" --output-on-failure -j "$(nproc)" "$@"
    exit
fi
# The checks labelled "play" (those that play stages for minutes) run in one harness and the other tests in a second
# one beside it. Each harness has a display, a sound sink and a Wine prefix of its own, so two tests that hold the
# display run at once, one in each, while within a harness the locks hold as before. The play checks' output follows
# the others'; the last line counts both.
play_output=$(mktemp /tmp/qvplay.XXXXXX)
other_output=$(mktemp /tmp/qvother.XXXXXX)
"$root/scripts/harness.sh" ctest --test-dir "$build" --output-on-failure -j "$(nproc)" -L '^play$' \
    >"$play_output" 2>&1 &
play_pid=$!
status=0
"$root/scripts/harness.sh" ctest --test-dir "$build" --output-on-failure -j "$(nproc)" -LE '^play$' 2>&1 |
    tee "$other_output" || status=1
wait "$play_pid" || status=1
play_pid=
cat "$play_output"
closing=$(cat "$other_output" "$play_output" | tr -d '\r' |
    awk '/tests passed, [0-9]+ tests failed out of/ { failed += $4; total += $NF; groups++ }
         END { if (groups == 2) printf "ctest: %d passed, %d failed", total - failed, failed }')
[ -n "$closing" ] || { closing="ctest: a group ended without its summary"; status=1; }
exit "$status"
