#!/usr/bin/env python3
"""Runs the screen probe under the harness, takes a screenshot of the display once the probe has flipped its test
card, and compares the window's client area with the frame the probe read back: within `tolerance` per channel
(16-bit screens widen their 5- and 6-bit channels in slightly different ways), and on the software screen the pure
red bar (0xF800) must show as red 248 or more.  Usage: check_screen_shot.py PROBE RUN_FOLDER SOURCE_ROOT MODE"""
import os
import subprocess
import sys
import time


def main():
    probe, folder, root, mode = sys.argv[1:5]
    os.makedirs(folder, exist_ok=True)
    for name in ("ready", "done", "frame.rgb", "client.txt"):
        if os.path.exists(os.path.join(folder, name)):
            os.remove(os.path.join(folder, name))
    process = subprocess.Popen([os.path.join(root, "scripts", "wine-run"), probe, mode], cwd=folder)
    try:
        deadline = time.time() + 120
        while not os.path.exists(os.path.join(folder, "ready")):
            assert process.poll() is None, f"the probe ended with {process.returncode} before its frame was ready"
            assert time.time() < deadline, "the probe never got its frame ready"
            time.sleep(0.2)
        time.sleep(0.5)
        shot = os.path.join(folder, "shot.png")
        subprocess.run([os.path.join(root, "scripts", "harness-shot"), shot], check=True)
    finally:
        open(os.path.join(folder, "done"), "w").close()
    assert process.wait(timeout=120) == 0, "the probe failed"

    frame = open(os.path.join(folder, "frame.rgb"), "rb").read()
    left, top = [int(v) for v in open(os.path.join(folder, "client.txt")).read().split()]
    size = subprocess.run(["identify", "-format", "%w %h", shot], check=True, capture_output=True, text=True)
    shot_width = int(size.stdout.split()[0])
    raw = subprocess.run(["convert", shot, "-depth", "8", "rgb:-"], check=True, capture_output=True).stdout
    tolerance = 2 if mode == "device" else 8
    mismatches = []
    for y in range(480):
        for x in range(640):
            want = frame[(y * 640 + x) * 3:(y * 640 + x) * 3 + 3]
            offset = ((top + y) * shot_width + left + x) * 3
            got = raw[offset:offset + 3]
            if any(abs(a - b) > tolerance for a, b in zip(got, want)):
                mismatches.append((x, y, tuple(got), tuple(want)))
    assert not mismatches, f"{len(mismatches)} client pixels differ from the frame, first {mismatches[:3]}"
    if mode == "soft":
        offset = ((top + 100) * shot_width + left + 80) * 3
        assert raw[offset] >= 248 and raw[offset + 1] < 8 and raw[offset + 2] < 8, tuple(raw[offset:offset + 3])
    print(f"the {mode} screen's client area at {left},{top} equals its read-back frame")


if __name__ == "__main__":
    main()
