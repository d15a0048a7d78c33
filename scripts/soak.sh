#!/usr/bin/env bash
# The soak: the bot plays run after run for MINUTES (default 30) in a window of the game's test program under the
# Wine harness, on the Direct3D screen with pacing on, with the device made again every 20 seconds and the window
# mode switched every 3 minutes; then tests/game/check_soak.py prints and checks the figures (exit code, live
# allocations and graphs after each run and at the end, "Save.Dat", the end of "Log.txt").
# Usage: scripts/soak.sh [MINUTES]   (the run's files stay in the folder it prints)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${QV_BUILD_DIR:-$root/build}
minutes=${1:-30}
"$root/scripts/build.sh" >/dev/null
folder=$(mktemp -d /tmp/qvsoak.XXXXXX)
echo "soak of $minutes minutes in $folder"
"$root/scripts/harness.sh" python3 -B "$root/tests/game/check_soak.py" "$build/game/QvGameTest.exe" "$folder" \
    "$root" --minutes "$minutes"
