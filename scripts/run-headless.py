#!/usr/bin/env python3
"""Inside the harness (scripts/harness.sh): runs the game, saves a screenshot of the virtual display once the game's
window is shown, then asks the game to close the way the end-to-end checks do (its window focused, Escape held long
enough for a once-a-frame poll, again until the game ends) and exits with the game's status. A game still running
30 s after the presses is ended, with a line saying so, and the exit status is 1.
Usage: run-headless.py EXE SHOT"""
import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "harness"))
from harness_window import END_WAIT_SECONDS, GAME_WINDOW_TITLE, press_escape_until_exit, windows_named  # noqa: E402

WINDOW_SECONDS = 60
# The window is shown early in start-up, and start-up reads no keys: a press made then goes unseen (its release is
# taken from the queue with it). Start-up ends about a second after the window is shown on an idle machine, and
# took up to half a minute with every core busy: the presses go on for up to two minutes.
PRESSES = 240


def shown_window(process):
    """The game's window once X shows it; None if the game ended first or showed none within the time limit."""
    deadline = time.monotonic() + WINDOW_SECONDS
    while process.poll() is None and time.monotonic() < deadline:
        found = windows_named(GAME_WINDOW_TITLE)
        if found:
            return found[0]
        time.sleep(0.2)
    return None


def end_game(process, why):
    print(f"run-headless: {why}; ending it", flush=True)
    try:
        subprocess.run(["wineserver", "-k"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=20)
    except subprocess.TimeoutExpired:
        pass
    if process.poll() is None:
        process.kill()
    process.wait()
    return 1


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: run-headless.py EXE SHOT")
    exe = os.path.abspath(sys.argv[1])
    shot = os.path.abspath(sys.argv[2])
    # Started through start /wait, whose status is the game's own as Windows records it. Wine's server sends every
    # ending process SIGKILL once its last thread has gone; the game's Unix process, still running its libraries'
    # exit code then on a busy machine, was killed by it now and then after a complete shut-down, and a direct
    # parent saw that signal instead of the game's status. The game writes its log and save files beside itself.
    process = subprocess.Popen(["wine", "start", "/wait", "/unix", exe], cwd=os.path.dirname(exe))
    window = shown_window(process)
    if window is None:
        if process.poll() is not None:
            print("run-headless: the program ended before its window was shown", flush=True)
            return process.returncode
        return end_game(process, f"no window of the program was shown within {WINDOW_SECONDS} s")
    time.sleep(float(os.environ.get("QV_SHOT_DELAY", "2")))  # its first frames drawn
    if subprocess.run([os.path.join(HERE, "harness-shot"), shot], timeout=60).returncode == 0:
        print(f"screenshot saved to {shot}", flush=True)
    try:
        return press_escape_until_exit(process, window, PRESSES)
    except subprocess.TimeoutExpired as error:
        if error.cmd == process.args:
            return end_game(process, f"the program did not end within {END_WAIT_SECONDS} s of the Escape presses")
        return end_game(process, str(error))
    except (AssertionError, subprocess.CalledProcessError) as error:
        if process.poll() is not None:
            return process.returncode
        return end_game(process, str(error))


if __name__ == "__main__":
    sys.exit(main())
