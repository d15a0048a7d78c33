#!/usr/bin/env bash
# Sets the machine up (scripts/setup.sh) and builds everything into build/ (or $QV_BUILD_DIR).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${QV_BUILD_DIR:-$root/build}
prefix=$("$root/scripts/setup.sh" | tail -n 1)
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
    -DQV_DEPS_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$build.configure.log" 2>&1 ||
    { cat "$build.configure.log"; exit 1; }
cmake --build "$build" -- -k 0
