#!/usr/bin/env python3
"""Real keys and mouse into the probe's window, on both keyboard sources: a copy of the probe that Wine tells it
runs on Windows XP reads the DirectInput keyboard, the probe itself (Wine's Windows 7) the Windows keyboard state.
Each key is held until the probe reports the expected bits (generous time-outs, no timing window), then released
until it reports none. The probe runs once more with graphics on and the front screen as target, as a program that
keeps start-up's target does, so that presents slow its pump. Then a run of the probe waits for Escape through
IsKeyDown alone, without pumping, and a last one takes a typed text and the navigation keys out of GetInputChar,
which must give them in the order typed.
Usage: check_real_keys.py PROGRAM RUN_FOLDER SOURCE_ROOT"""
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from harness_window import (end_program, focus_window, num_lock_off, press_escape_until_exit,  # noqa: E402
                            wait_for_no_window, wait_for_window, xdotool)

# (keys held together, pad bits, Escape down)
KEY_CASES = [
    (["z"], 0x10, 0),
    (["KP_2", "space"], 0x2001, 0),
    (["Up"], 0x08, 0),
    (["Down"], 0x01, 0),
    (["Left"], 0x02, 0),
    (["Right"], 0x04, 0),
    (["Escape"], 0x1000, 1),
]

TYPED_TEXT = "Qv7 ok"
NAVIGATION_KEYS = [("Delete", 0x10), ("Left", 0x1D), ("Right", 0x1C), ("Up", 0x1E), ("Down", 0x1F), ("Home", 0x1A),
                   ("End", 0x19)]


def last_report(folder):
    """The last whole line of the probe's report: the probe may be writing the next one."""
    try:
        lines = open(os.path.join(folder, "keys.txt")).read().rpartition("\n")[0].splitlines()
    except FileNotFoundError:
        return {}
    return dict(field.split("=") for field in lines[-1].split()) if lines else {}


def wait_for(folder, wanted, what, seconds=20):
    deadline = time.time() + seconds
    while time.time() < deadline:
        report = last_report(folder)
        if all(report.get(key) == value for key, value in wanted.items()):
            return report
        time.sleep(0.05)
    raise AssertionError(f"{what}: wanted {wanted}, last report {last_report(folder)}")


def check_keys(folder, source):
    for keys, bits, escape in KEY_CASES:
        down = str(int("Down" in keys))  # the numeric pad's 2 is not the Down key
        xdotool("keydown", *keys)
        time.sleep(0.15)  # held at least 100 ms whatever the report says
        wait_for(folder, {"pad": hex(bits), "esc": str(escape), "down": down, "keyboard": source}, f"{keys} held")
        time.sleep(0.3)  # long enough for presents on the pump's timer to come between
        wait_for(folder, {"pad": hex(bits), "down": down}, f"{keys} still held")
        xdotool("keyup", *keys)
        wait_for(folder, {"pad": "0x0", "esc": "0", "down": "0"}, f"{keys} released")


def check_mouse(folder):
    origin = [int(v) for v in last_report(folder)["origin"].split(",")]
    xdotool("mousemove", str(origin[0] + 37), str(origin[1] + 53))
    wait_for(folder, {"mouse": "37,53"}, "mouse point")
    presses = int(last_report(folder)["presses"])
    for button, bytes_wanted in (("1", "10"), ("3", "01")):
        xdotool("mousedown", button)
        time.sleep(0.15)
        wait_for(folder, {"buttons": bytes_wanted}, f"button {button} held")
        xdotool("mouseup", button)
        wait_for(folder, {"buttons": "00"}, f"button {button} released")
    assert int(last_report(folder)["presses"]) >= presses + 2, "the presses were not logged"


def run_probe(wine_run, program, folder, source, *arguments):
    os.makedirs(folder, exist_ok=True)
    for name in ("keys.txt", "stop"):
        if os.path.exists(os.path.join(folder, name)):
            os.remove(os.path.join(folder, name))
    wait_for_no_window("QvKeyProbe")
    num_lock_off()
    probe = subprocess.Popen([wine_run, program, *arguments], cwd=folder)
    try:
        focus_window(wait_for_window("QvKeyProbe"))
        started = {"keyboard": source, "pad": "0x0"}
        if "graphics" in arguments:
            started["target"] = "-4"  # start-up's front screen, presented on the pump's timer
        wait_for(folder, started, "probe started")
        if "graphics" in arguments:
            # Under Wine a replaced GL child window of the device (as every present brought while DirectDraw's
            # cooperative level held the window) with the pointer over it brings an EnterNotify and X's
            # KeymapNotify, from which winex11 re-reads held keys by keycode and sets the numeric pad's 2 as Down,
            # with no message. The pointer stays off the window while keys are held.
            xdotool("mousemove", "0", "0")
        check_keys(folder, source)
        if source == "windows":
            check_mouse(folder)
        open(os.path.join(folder, "stop"), "w").close()
        assert probe.wait(timeout=60) == 0, "the probe did not end cleanly"
    finally:
        open(os.path.join(folder, "stop"), "w").close()  # a failed check still lets the probe end
        end_program(probe)
    print(f"{source} keyboard{' with graphics' if arguments else ''}: keys as expected")


def run_escape_only(wine_run, program, folder):
    wait_for_no_window("QvKeyProbe")
    probe = subprocess.Popen([wine_run, program, "escape-only"], cwd=folder)
    try:
        window = wait_for_window("QvKeyProbe")
        assert press_escape_until_exit(probe, window) == 0, "Escape through IsKeyDown alone was not seen"
    finally:
        end_program(probe)
    print("Escape seen without the pump")


def run_typing(wine_run, program, folder):
    result, ready = os.path.join(folder, "typed.bin"), os.path.join(folder, "ready")
    for path in (result, ready):
        if os.path.exists(path):
            os.remove(path)
    wait_for_no_window("QvKeyProbe")
    probe = subprocess.Popen([wine_run, program, "typing"], cwd=folder)
    try:
        focus_window(wait_for_window("QvKeyProbe"))
        deadline = time.time() + 60
        while not os.path.exists(ready):  # start-up is over: what is typed now reaches GetInputChar
            assert probe.poll() is None and time.time() < deadline, "the typing probe never got ready"
            time.sleep(0.1)
        xdotool("type", "--delay", "150", TYPED_TEXT)
        for key, _ in NAVIGATION_KEYS:
            xdotool("keydown", key)
            time.sleep(0.15)
            xdotool("keyup", key)
        assert probe.wait(timeout=90) == 0, "the typing probe did not end with 0"
    finally:
        end_program(probe)
    typed = open(result, "rb").read()
    expected = TYPED_TEXT.encode("ascii") + bytes(code for _, code in NAVIGATION_KEYS)
    assert typed == expected, f"typed {typed!r}, expected {expected!r}"
    print("typed text and navigation codes came out in order")


def main():
    program, folder, root = sys.argv[1:4]
    wine_run = os.path.join(root, "scripts", "wine-run")
    os.makedirs(folder, exist_ok=True)
    xp_program = os.path.join(folder, "pad_key_probe_xp.exe")
    shutil.copy(program, xp_program)
    subprocess.run(["wine", "reg", "add", r"HKCU\Software\Wine\AppDefaults\pad_key_probe_xp.exe", "/v", "Version",
                    "/d", "winxp", "/f"], check=True, capture_output=True)
    run_probe(wine_run, xp_program, os.path.join(folder, "xp"), "di")
    run_probe(wine_run, program, os.path.join(folder, "seven"), "windows")
    run_probe(wine_run, program, os.path.join(folder, "graphics"), "windows", "graphics")
    run_escape_only(wine_run, program, os.path.join(folder, "seven"))
    run_typing(wine_run, program, os.path.join(folder, "seven"))


if __name__ == "__main__":
    main()
