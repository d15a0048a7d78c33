#!/usr/bin/env bash
# Sets up, builds and runs the program under Wine. With a working $DISPLAY the window opens there; without one
# it runs in the harness's virtual display and a screenshot is saved to build/screenshot.png.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${QV_BUILD_DIR:-$root/build}
"$root/scripts/build.sh"
exe=$build/game/QvGame.exe
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    QV_USE_DISPLAY=1 exec "$root/scripts/harness.sh" bash -c 'cd "$(dirname "$1")" && wine "$1"' run "$exe"
fi
exec "$root/scripts/harness.sh" "$root/scripts/run-headless.py" "$exe" "$build/screenshot.png"
