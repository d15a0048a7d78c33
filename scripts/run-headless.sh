#!/usr/bin/env bash
# Inside the harness: runs the program, saves a screenshot of the virtual display once its window is shown, then asks
# it to close (Escape, for about ten seconds) and exits with the program's status. A program still running 30 s
# after that is ended, with a line saying so, and the exit status is 1. Usage: run-headless.sh EXE SHOT
set -euo pipefail
exe=$1
shot=$2
cd "$(dirname "$exe")"
wine "$exe" &
pid=$!

running() {
    kill -0 "$pid" 2>/dev/null
}

# The first window X shows: xdotool's search also finds windows not mapped yet, which refuse the focus.
shown_window() {
    xdotool search --onlyvisible --name . 2>/dev/null | head -n 1 || true
}

end=$((SECONDS + 60))
while running && [ -z "$(shown_window)" ] && [ "$SECONDS" -lt "$end" ]; do
    sleep 0.2
done
sleep "${QV_SHOT_DELAY:-2}" # its first frames drawn
"$(dirname "$0")/harness-shot" "$shot" && echo "screenshot saved to $shot"
for _ in $(seq 50); do
    running || break
    window=$(shown_window)
    # Each try has a limit: --sync waits for ever on a window that goes away meanwhile.
    [ -n "$window" ] && timeout 10 xdotool windowfocus --sync "$window" key Escape 2>/dev/null || true
    sleep 0.2
done
end=$((SECONDS + 30))
while running && [ "$SECONDS" -lt "$end" ]; do
    sleep 0.2
done
if running; then
    echo "run-headless: the program did not end within 30 s of the Escape presses; ending it"
    timeout 20 wineserver -k >/dev/null 2>&1 || true
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    exit 1
fi
wait "$pid"
