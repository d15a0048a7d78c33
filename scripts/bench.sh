#!/usr/bin/env bash
# Builds and runs the benchmarks: the engine's benchmark program under the Wine harness, then the archive packer
# against gzip on the build machine. Every line is a ratio against a reference measured in the same run.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${QV_BUILD_DIR:-$root/build}
"$root/scripts/build.sh" >/dev/null
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
(cd "$scratch" && "$root/scripts/harness.sh" "$root/scripts/wine-run" "$build/tests/bench/qvbench.exe" .) | tr -d '\r'
