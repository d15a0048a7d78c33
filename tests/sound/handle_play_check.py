#!/usr/bin/env python3
"""Records the sink while handle_play_probe plays its 1 s 440 Hz "SE" tone: once, looped for 2.5 s, at volume 255
and at 102. The recording has discontinuities (the sink drops out now and then under load), so only presence,
pitch, the seconds of sound and level are judged: four stretches in order at 440 Hz, about 1 s, at least 2 s (then
silent: stopped), 1 s and 1 s, the last about 4 dB below the one before. The probe's report says CheckSoundPlaying
went 1 then 0 and volume 102 read back -397.
Usage: handle_play_check.py PROGRAM RUN_FOLDER SOURCE_ROOT"""
import math
import os
import struct
import subprocess
import sys
import wave

RATE, BLOCK = 44100, 441  # 10 ms blocks
program, folder, root = sys.argv[1:4]
scripts = os.path.join(root, "scripts")
os.makedirs(folder, exist_ok=True)
recording = os.path.join(folder, "recording.wav")


def rms(values):
    return math.sqrt(sum(v * v for v in values) / max(1, len(values)))


def loud_stretches(left):
    """Runs of loud 10 ms blocks as lists of block starts, a run going on over gaps shorter than 0.4 s (the sink
    drops out now and then on a loaded machine)."""
    stretches = []
    for start in range(0, len(left) - BLOCK + 1, BLOCK):
        if rms(left[start:start + BLOCK]) < 500:
            continue
        if stretches and start - stretches[-1][-1] < 0.4 * RATE:
            stretches[-1].append(start)
        else:
            stretches.append([start])
    return stretches


def judge(left, blocks):
    """(seconds of sound, pitch, level) of a stretch: the blocks at more than half its median level, and the median
    spacing of upward zero crossings, which gaps and jumps in the recording do not move."""
    levels = sorted(rms(left[b:b + BLOCK]) for b in blocks)
    median = levels[len(levels) // 2]
    seconds = sum(1 for b in blocks if rms(left[b:b + BLOCK]) > median / 2) * BLOCK / RATE
    rises = [i for i in range(blocks[0] + 1, blocks[-1] + BLOCK) if left[i - 1] < 0 <= left[i]]
    spacings = sorted(b - a for a, b in zip(rises, rises[1:]))
    return seconds, RATE / spacings[len(spacings) // 2], median


subprocess.run([os.path.join(scripts, "harness-record"), "start", recording], check=True)
try:
    subprocess.run([os.path.join(scripts, "wine-run"), program], cwd=folder, check=True, timeout=240)
finally:
    subprocess.run([os.path.join(scripts, "harness-record"), "stop", recording], check=True)

report = {}
for line in open(os.path.join(folder, "play_report.txt")):
    step, *fields = line.split()
    report[step] = dict(field.split("=") for field in fields)
print(report)
assert report["loaded"] == {"handle": "1", "total_ms": "1000"}, report["loaded"]
for step in ("once", "full", "quieter"):
    assert report[step]["playing"] == "1" and report[step]["after"] == "0", (step, report[step])
    assert 800 <= int(report[step]["ended_ms"]) <= 5000, (step, report[step])
assert report["loop"] == {"played": "0", "playing": "1", "stopped": "0"}, report["loop"]
assert report["volume102"]["reads"] == "-397", report["volume102"]
assert report["end"]["allocations"] == "0", report["end"]

with wave.open(recording) as w:
    frames = w.readframes(w.getnframes())
left = struct.unpack("<%dh" % (len(frames) // 2), frames)[0::2]
stretches = loud_stretches(left)
heard = [judge(left, blocks) for blocks in stretches]
described = ["%.2f s at %.1f Hz, level %d" % sound for sound in heard]
assert len(heard) == 4, "loud stretches: %s" % described
for (seconds, pitch, level), (low, high) in zip(heard, [(0.85, 1.2), (2.0, 3.5), (0.85, 1.2), (0.85, 1.2)]):
    assert low <= seconds <= high and abs(pitch / 440 - 1) < 0.03, described
drop = 20 * math.log10(heard[3][2] / heard[2][2])
assert abs(drop + 3.97) < 1.0, "volume 102 is %.2f dB against 255" % drop
print("heard %s; volume 102 at %.2f dB" % (described, drop))
