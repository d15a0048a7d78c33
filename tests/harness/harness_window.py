"""Windows of the programs under test on the harness's display, and the keys sent to them: the one way every
end-to-end check finds, measures and focuses a window. xdotool's search by name also finds a window that is not
mapped yet, and X refuses the focus to such a window (BadMatch), so a window is answered only once X shows it, and
the focus is asked for again until X has given it. Every wait has a time limit. Runs on the build machine inside
scripts/harness.sh."""
import os
import re
import subprocess
import time

GAME_WINDOW_TITLE = "VELLOMIR -囚われたソラネラ- Ver1.00"


def xdotool(*arguments):
    """Runs xdotool (its errors go to the check's output); answers what it printed."""
    return subprocess.run(["xdotool", *arguments], check=True, stdout=subprocess.PIPE, text=True, timeout=60).stdout


def windows_named(name, shown=True):
    """The windows whose whole title is `name`: those X shows, or with `shown` false all, mapped or not."""
    only_shown = ["--onlyvisible"] if shown else []
    return subprocess.run(["xdotool", "search", *only_shown, "--name", f"^{name}$"], capture_output=True, text=True,
                          timeout=60).stdout.split()


def wait_for_window(name, seconds=60):
    """The first window named `name`, once X shows it."""
    deadline = time.time() + seconds
    while True:
        found = windows_named(name)
        if found:
            return found[0]
        assert time.time() < deadline, f"no window named {name} was shown"
        time.sleep(0.2)


def wait_for_no_window(name, seconds=60):
    """A window of an earlier run may still be going away: focusing it would wait for ever."""
    deadline = time.time() + seconds
    while windows_named(name, shown=False):
        assert time.time() < deadline, f"a window named {name} is still there"
        time.sleep(0.2)


def focus_window(window, seconds=60):
    """Gives the window the keyboard focus. X refuses it while the window is not mapped, and a window going away
    would keep --sync waiting for ever: each try has a limit, and they go on until one takes."""
    deadline = time.time() + seconds
    while True:
        try:
            if not subprocess.run(["xdotool", "windowfocus", "--sync", window], capture_output=True,
                                  timeout=20).returncode:
                return
        except subprocess.TimeoutExpired:
            pass
        assert time.time() < deadline, f"window {window} never took the focus"
        time.sleep(0.2)


def window_geometry(window):
    """The window's frame on the display: left, top, width, height."""
    values = {}
    for line in subprocess.run(["xwininfo", "-id", window], check=True, capture_output=True, text=True,
                               timeout=60).stdout.splitlines():
        key, _, value = line.strip().partition(":")
        values[key] = value.strip()
    return tuple(int(values[key]) for key in ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height"))


def display_size():
    return tuple(int(v) for v in xdotool("getdisplaygeometry").split())


def num_lock_off():
    """xdotool sends a numeric-pad digit by locking Num Lock, and leaves it locked. With it already locked, Wine's
    Windows keyboard state takes that key's release for another key and keeps it held: each run starts unlocked."""
    if re.search(r"Num Lock:\s+on", subprocess.run(["xset", "q"], capture_output=True, text=True, timeout=60).stdout):
        xdotool("key", "Num_Lock")


END_WAIT_SECONDS = 30  # press_escape_until_exit's wait for the program's end after the presses


def press_escape_until_exit(process, window, presses=60):
    """Focuses the window and presses Escape until the process ends (a loaded machine may run a frame late and miss
    a short press), at most `presses` times, half a second each; answers its exit code. A program still starting up
    reads no keys, and a press it has not read before the release is lost: a caller that may press during a long
    start-up asks for more presses."""
    focus_window(window)
    for _ in range(presses):
        xdotool("keydown", "Escape")
        time.sleep(0.3)
        xdotool("keyup", "Escape")
        if process.poll() is not None:
            break
        time.sleep(0.2)
    return process.wait(timeout=END_WAIT_SECONDS)


def display_modes():
    """The display's mode now and the harness's, each as WIDTHxHEIGHT."""
    return "x".join(str(value) for value in display_size()), os.environ["QV_DISPLAY_MODE"]


def display_mode_kept(what):
    """Fails unless the display is at the harness's mode: a run that ends by itself must give the desktop its mode
    back, and the check that ran it is the one to fail when it does not."""
    now, harness = display_modes()
    assert now == harness, f"{what} left the display at {now}, not at the harness's {harness}"


def end_program(process):
    """Ends a program that a failed check leaves running (a scripts/wine-run process): asked first, so that its time
    limit passes the signal on to the program, which would otherwise go on running, holding the test runner's
    output open; killed if it has not gone within thirty seconds. A full-screen program ended so gives nobody the
    desktop's mode back: the display is put back to the harness's mode, and that is said."""
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
        now, harness = display_modes()
        if now != harness:
            print(f"the program ended by a signal left the display at {now}: putting back the harness's {harness}")
            subprocess.run(["xrandr", "-s", harness], check=True, timeout=60)
