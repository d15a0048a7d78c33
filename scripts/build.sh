#!/usr/bin/env bash
# Sets the machine up (scripts/setup.sh) and builds everything into build/ (or $QV_BUILD_DIR).
# With QV_STEP_MARKS naming a file (scripts/test.sh does), the moment the build starts is written there.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${QV_BUILD_DIR:-$root/build}
prefix=$("$root/scripts/setup.sh" | tail -n 1)
[ -z "${QV_STEP_MARKS:-}" ] || printf 'Windows build\t%s\n' "$EPOCHREALTIME" >>"$QV_STEP_MARKS"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
    -DQV_DEPS_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$build.configure.log" 2>&1 ||
    { cat "$build.configure.log"; exit 1; }
cmake --build "$build" -- -k 0
