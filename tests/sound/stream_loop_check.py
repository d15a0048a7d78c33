#!/usr/bin/env python3
"""Records the sink while stream_loop_probe plays a looping stream sound for three seconds: heard throughout, at
its pitch in every tenth of a second across the loop points. On a loaded machine Wine's mixer drops short stretches
(the tone goes on in phase after them), so only a quarter second counts as silence, and the pitch comes from the
spacing of upward zero crossings, which such drops do not move. Usage: stream_loop_check.py PROBE RUN SCRIPTS"""
import math
import os
import statistics
import struct
import subprocess
import sys
import wave

RATE, PITCH, BLOCK, WINDOW = 44100, 441, 110, 4410  # 2.5 ms blocks (a period and a tenth), 0.1 s pitch windows


def main():
    probe, folder, scripts = sys.argv[1:4]
    os.makedirs(folder, exist_ok=True)
    recording = os.path.join(folder, "loop.wav")
    record = os.path.join(scripts, "harness-record")
    subprocess.run([record, "start", recording], check=True)
    try:
        played = subprocess.run([os.path.join(scripts, "wine-run"), probe], cwd=folder, timeout=180)
    finally:
        subprocess.run([record, "stop", recording], check=True)
    assert played.returncode == 0, "the probe ended with %d" % played.returncode
    with wave.open(recording) as w:
        frames = w.readframes(w.getnframes())
    left = struct.unpack("<%dh" % (len(frames) // 2), frames)[0::2]
    loud = [math.sqrt(sum(v * v for v in left[s:s + BLOCK]) / BLOCK) > 2000
            for s in range(0, len(left) - BLOCK + 1, BLOCK)]
    first, last = loud.index(True), len(loud) - 1 - loud[::-1].index(True)
    quiet, longest = 0, 0
    for block in loud[first:last + 1]:
        quiet = 0 if block else quiet + 1
        longest = max(longest, quiet)
    heard = sum(loud) * BLOCK / RATE
    assert heard >= 2.0 and longest * BLOCK / RATE < 0.25, "heard %.2f s, silent for %.3f s" % (
        heard, longest * BLOCK / RATE)
    for s in range((first + 4) * BLOCK, (last - 4) * BLOCK - WINDOW + 1, WINDOW):
        part = left[s:s + WINDOW]
        ups = [i for i in range(1, WINDOW) if part[i - 1] < 0 <= part[i]]
        pitch = RATE / statistics.median(b - a for a, b in zip(ups, ups[1:]))
        assert abs(pitch / PITCH - 1) < 0.03, "%.1f Hz at %.2f s" % (pitch, s / RATE)
    print("heard %.2f s of the looping stream at %d Hz, never silent for long" % (heard, PITCH))


if __name__ == "__main__":
    main()
