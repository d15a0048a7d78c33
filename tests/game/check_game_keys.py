#!/usr/bin/env python3
"""Real keys (xdotool) into the test build on the title menu, read through its per-frame dump: each arrow key is held
until the cursor has moved its way, then released; Escape ends the game with 0 and the engine's shut-down in
"Log.txt". Usage: check_game_keys.py PROGRAM RUN_FOLDER SOURCE_ROOT"""
import sys
import time

from game_harness import (GameRun, find_window, focus_window, num_lock_off, press_escape_until_exit,
                          shut_down_cleanly, xdotool)

# (key, cursor wanted: the key is held until the dump shows it)
MOVES = [("Down", lambda cursor: cursor >= 1), ("Up", lambda cursor: cursor == 0)]


def wait_for_cursor(run, wanted, what, seconds=30):
    deadline = time.time() + seconds
    while True:
        dump = run.dump()
        if dump and dump[-1]["MainState"] == "30" and wanted(int(dump[-1]["MenuCursor"])):
            return
        assert run.process.poll() is None, f"{what}: the game ended"
        assert time.time() < deadline, f"{what}: last dump line {dump[-1] if dump else None}"
        time.sleep(0.1)


def main():
    program, folder, root = sys.argv[1:4]
    num_lock_off()
    with GameRun(root, program, folder) as run:
        window = find_window()
        focus_window(window)
        wait_for_cursor(run, lambda cursor: cursor == 0, "title menu")
        for key, wanted in MOVES:
            xdotool("keydown", key)
            try:
                time.sleep(0.15)  # held at least 100 ms whatever the dump says
                wait_for_cursor(run, wanted, f"{key} held")
            finally:
                xdotool("keyup", key)
        code = press_escape_until_exit(run.process, window)
    assert code == 0, f"Escape ended the game with {code}"
    shut_down_cleanly(run)
    print("arrow keys moved the cursor; Escape ended the game with 0 and a complete log")


if __name__ == "__main__":
    main()
