#!/usr/bin/env python3
"""Runs the typing probe under the harness, types a short text and the navigation keys into its window with
xdotool, and checks that GetInputChar gave the characters and the navigation codes in the order typed.
Usage: check_text_typing.py PROGRAM RUN_FOLDER SOURCE_ROOT"""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "engine"))
from check_program_window import wait_for_window  # noqa: E402

TEXT = "Qv7 ok"
KEYS = [("Delete", 0x10), ("Left", 0x1D), ("Right", 0x1C), ("Up", 0x1E), ("Down", 0x1F), ("Home", 0x1A),
        ("End", 0x19)]


def main():
    program, folder, root = sys.argv[1:4]
    os.makedirs(folder, exist_ok=True)
    result = os.path.join(folder, "typed.bin")
    if os.path.exists(result):
        os.remove(result)
    probe = subprocess.Popen([os.path.join(root, "scripts", "wine-run"), program], cwd=folder)
    try:
        window = wait_for_window("QvTextProbe", 60)
        time.sleep(1.0)
        subprocess.run(["xdotool", "windowfocus", "--sync", window], check=True)
        subprocess.run(["xdotool", "type", "--delay", "150", TEXT], check=True)
        for key, _ in KEYS:
            subprocess.run(["xdotool", "keydown", key], check=True)
            time.sleep(0.15)
            subprocess.run(["xdotool", "keyup", key], check=True)
        assert probe.wait(timeout=90) == 0, "the probe did not end with 0"
    finally:
        if probe.poll() is None:
            probe.kill()
    typed = open(result, "rb").read()
    expected = TEXT.encode("ascii") + bytes(code for _, code in KEYS)
    print(f"typed {typed!r}")
    assert typed == expected, f"expected {expected!r}"
    print("typed text and navigation codes came out in order")


if __name__ == "__main__":
    main()
