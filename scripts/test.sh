#!/usr/bin/env bash
# Sets up, builds and runs every test: the host tests, the host blit benchmark once (its numbers never fail the
# run), then the Windows test programs and end-to-end checks under the Wine harness.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${QV_BUILD_DIR:-$root/build}
"$root/scripts/build.sh"
"$root/scripts/host-test.sh"
"$root/scripts/bench-host.sh"
"$root/scripts/harness.sh" ctest --test-dir "$build" --output-on-failure -j "$(nproc)" "$@"
