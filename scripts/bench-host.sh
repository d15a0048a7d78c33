#!/usr/bin/env bash
# Builds the software renderer for the Linux host, optimised and without sanitizers (bench/host), and runs its
# benchmark: each line our time per frame, or pixels per second, against memcpy, memset, SDL2 or another of our
# draws timed in the same run. Numbers never fail: the script exits non-zero only when the program cannot be built
# or run.
# QV_BENCH_HOST_BUILD_DIR sets the build folder (default build-bench-host).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${QV_BENCH_HOST_BUILD_DIR:-$root/build-bench-host}

CC=clang CXX=clang++ cmake -S "$root/bench/host" -B "$build" -G Ninja \
    >"$build.configure.log" 2>&1 || { cat "$build.configure.log"; exit 1; }
cmake --build "$build"
"$build/blit_bench"
