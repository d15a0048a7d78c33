#!/usr/bin/env python3
# The harness's own services: a 440 Hz tone played into the sink comes back from harness-record at that pitch, and
# harness-shot saves a picture of the display's size. Runs inside scripts/harness.sh.
import os
import subprocess
import sys
import tempfile
import wave
import math
import struct

scripts = sys.argv[1]
work = tempfile.mkdtemp()
tone = os.path.join(work, "tone.wav")
recording = os.path.join(work, "recording.wav")
shot = os.path.join(work, "shot.png")

subprocess.run(["sox", "-n", "-r", "44100", "-c", "2", "-b", "16", tone, "synth", "1.5", "sine", "440", "vol", "0.5"],
               check=True)
player = subprocess.Popen(["bash", "-c", f"sleep 0.3; paplay {tone}"])
subprocess.run([os.path.join(scripts, "harness-record"), recording, "2.5"], check=True)
player.wait()

with wave.open(recording) as w:
    assert w.getframerate() == 44100 and w.getnchannels() == 2 and w.getsampwidth() == 2
    frames = w.readframes(w.getnframes())
left = struct.unpack("<%dh" % (len(frames) // 2), frames)[0::2]
loud = [i for i, v in enumerate(left) if abs(v) > 4000]
assert len(loud) > 44100 // 2, "less than half a second of the tone came back (%d loud samples)" % len(loud)
# Pitch from upward zero crossings over the loud stretch.
start, end = loud[0], loud[-1]
crossings = sum(1 for i in range(start + 1, end) if left[i - 1] < 0 <= left[i])
pitch = crossings / ((end - start) / 44100.0)
assert abs(pitch - 440) < 15, "recorded pitch %.1f Hz" % pitch

subprocess.run([os.path.join(scripts, "harness-shot"), shot], check=True)
size = subprocess.run(["identify", "-format", "%wx%h", shot], check=True, capture_output=True, text=True).stdout
assert size == "1024x768", size
print("recorded %.1f Hz; screenshot %s" % (pitch, size))
