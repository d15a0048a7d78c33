#!/usr/bin/env python3
# The harness's own services, inside scripts/harness.sh: tones played once harness-record has started come back
# whole at their pitch and level, also with the recorder held while they play; harness-shot has the display's size.
import math
import os
import re
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import wave

RATE, BLOCK = 44100, 441  # 10 ms blocks
TONES = [(440, 1.0, 0.5), (1000, 0.5, 0.25), (660, 0.3, 0.5)]  # (Hz, seconds, amplitude), each then 0.25 s silent

scripts = sys.argv[1]
work_folder = tempfile.TemporaryDirectory()
played, recording, shot = (os.path.join(work_folder.name, n) for n in ("tones.wav", "recording.wav", "shot.png"))
samples = []
for frequency, seconds, amplitude in TONES:
    samples += [round(amplitude * 32767 * math.sin(2 * math.pi * frequency * i / RATE))
                for i in range(round(seconds * RATE))]
    samples += [0] * (RATE // 4)
with wave.open(played, "wb") as w:
    w.setparams((2, 2, RATE, 0, "NONE", ""))
    w.writeframes(b"".join(struct.pack("<hh", s, s) for s in samples))


def rms(values):
    return math.sqrt(sum(v * v for v in values) / len(values))


def record(hold_recorder):
    """Recording has begun when start returns; a held recorder (as on a loaded machine) is let go only after stop
    was called, which must still wait for everything played before it. Returns the left channel."""
    record_script = os.path.join(scripts, "harness-record")
    subprocess.run([record_script, "start", recording], check=True)
    if hold_recorder:
        group = int(open(recording + ".pid").read().split()[0])
        os.killpg(group, signal.SIGSTOP)
    subprocess.run(["paplay", played], check=True)
    if hold_recorder:
        threading.Timer(0.3, os.killpg, (group, signal.SIGCONT)).start()
    subprocess.run([record_script, "stop", recording], check=True)
    with wave.open(recording) as w:
        assert (w.getframerate(), w.getnchannels(), w.getsampwidth()) == (RATE, 2, 2)
        frames = w.readframes(w.getnframes())
    return struct.unpack("<%dh" % (len(frames) // 2), frames)[0::2]


for hold_recorder in (False, True):
    left = record(hold_recorder)
    loud = [rms(left[s:s + BLOCK]) > 1000 for s in range(0, len(left) - BLOCK + 1, BLOCK)] + [False]
    # Stretches of loud blocks; one holding a few samples of a tone is loud, so a stretch covers its tone and at
    # most one block more on each side.
    starts = [i for i, l in enumerate(loud) if l and (i == 0 or not loud[i - 1])]
    stretches = [(i * BLOCK, loud.index(False, i) * BLOCK) for i in starts]
    assert len(stretches) == len(TONES), "%d loud stretches (held %s)" % (len(stretches), hold_recorder)
    for (first, end), (frequency, seconds, amplitude) in zip(stretches, TONES):
        inner = left[first + BLOCK:end - BLOCK]
        pitch = sum(1 for i in range(1, len(inner)) if inner[i - 1] < 0 <= inner[i]) / (len(inner) / RATE)
        length, level = (end - first) / RATE, rms(inner) / (amplitude * 32767 / math.sqrt(2))
        heard = "%d Hz: %.3f s of %.3f s at %.1f Hz, level x%.2f" % (frequency, length, seconds, pitch, level)
        assert seconds - 0.003 <= length <= seconds + 0.021 and abs(pitch / frequency - 1) < 0.03, heard
        assert abs(level - 1) < 0.1, heard

subprocess.run([os.path.join(scripts, "harness-shot"), shot], check=True)
size = subprocess.run(["identify", "-format", "%wx%h", shot], check=True, capture_output=True, text=True).stdout
info = subprocess.run(["xdpyinfo"], check=True, capture_output=True, text=True).stdout
display = re.search(r"dimensions:\s+(\d+x\d+) pixels", info).group(1)
assert size == display, "screenshot %s of a %s display" % (size, display)
print("recorded %d tones twice, whole; screenshot %s" % (len(TONES), size))
