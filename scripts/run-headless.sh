#!/usr/bin/env bash
# Inside the harness: runs the program, saves a screenshot of the virtual display once it is up, then asks it to
# close (Escape) if it is still running, and exits with the program's status. Usage: run-headless.sh EXE SHOT
set -euo pipefail
exe=$1
shot=$2
cd "$(dirname "$exe")"
wine "$exe" &
pid=$!
sleep "${QV_SHOT_DELAY:-4}"
"$(dirname "$0")/harness-shot" "$shot" && echo "screenshot saved to $shot"
for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    window=$(xdotool search --onlyvisible --name . 2>/dev/null | head -n 1 || true)
    [ -n "$window" ] && xdotool windowfocus --sync "$window" key Escape 2>/dev/null || true
    sleep 0.2
done
wait "$pid"
