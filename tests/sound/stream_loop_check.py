#!/usr/bin/env python3
# Records the sink while stream_loop_probe plays a looping stream sound for three seconds: heard throughout, at its
# pitch in every tenth of a second across the loop points. On a loaded machine Wine's mixer drops short stretches
# (the tone goes on in phase after them), so only a quarter second counts as silence, the pitch is measured in the
# tenths heard throughout, and it comes from the spacing of upward zero crossings, which such drops do not move.
# Usage: stream_loop_check.py PROBE RUN SCRIPTS
import math, os, statistics, struct, subprocess, sys, wave

RATE, PITCH, BLOCK, WINDOW = 44100, 441, 110, 4410  # 2.5 ms blocks (a period and a tenth), 0.1 s pitch windows
probe, folder, scripts = sys.argv[1:4]
os.makedirs(folder, exist_ok=True)
recording, record = os.path.join(folder, "loop.wav"), os.path.join(scripts, "harness-record")
subprocess.run([record, "start", recording], check=True)
try:
    played = subprocess.run([os.path.join(scripts, "wine-run"), probe], cwd=folder, timeout=180)
finally:
    subprocess.run([record, "stop", recording], check=True)
assert played.returncode == 0, "the probe ended with %d" % played.returncode
with wave.open(recording) as w:
    frames = w.readframes(w.getnframes())
left = struct.unpack("<%dh" % (len(frames) // 2), frames)[0::2]
loud = [math.sqrt(sum(v * v for v in left[s:s + BLOCK]) / BLOCK) > 2000 for s in range(0, len(left) - BLOCK, BLOCK)]
first, last = loud.index(True), len(loud) - 1 - loud[::-1].index(True)
quiet = max(len(run) for run in "".join("x" if b else "." for b in loud[first:last + 1]).split("x"))
heard = sum(loud) * BLOCK / RATE
assert heard >= 2.0 and quiet * BLOCK / RATE < 0.25, "heard %.2f s, silent for %.3f s" % (heard, quiet * BLOCK / RATE)
for s in range((first + 4) * BLOCK, (last - 4) * BLOCK - WINDOW + 1, WINDOW):
    if not all(loud[s // BLOCK:(s + WINDOW) // BLOCK]):
        continue  # a dropped stretch, short enough by the rule above: it has no pitch to measure
    ups = [i for i in range(s + 1, s + WINDOW) if left[i - 1] < 0 <= left[i]]
    pitch = RATE / statistics.median(b - a for a, b in zip(ups, ups[1:]))
    assert abs(pitch / PITCH - 1) < 0.03, "%.1f Hz at %.2f s" % (pitch, s / RATE)
print("heard %.2f s of the looping stream at %d Hz, never silent for long" % (heard, PITCH))
