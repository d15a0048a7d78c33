#!/usr/bin/env python3
# The harness's own services: tones played into the sink once harness-record has started come back whole, at their
# pitch and level, also when the recorder was held while they played; harness-shot saves a picture of the display's
# size. Runs inside scripts/harness.sh.
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

RATE = 44100
BLOCK = RATE // 100  # 10 ms
GAP_SECONDS = 0.25
# Played back to back, each followed by silence: (frequency Hz, seconds, amplitude of full scale).
TONES = [(440, 1.0, 0.5), (1000, 0.5, 0.25), (660, 0.3, 0.5)]

scripts = sys.argv[1]
work_folder = tempfile.TemporaryDirectory()
work = work_folder.name
played = os.path.join(work, "tones.wav")
recording = os.path.join(work, "recording.wav")
shot = os.path.join(work, "shot.png")


def write_tones(path):
    samples = []
    for frequency, seconds, amplitude in TONES:
        count = round(seconds * RATE)
        samples += [round(amplitude * 32767 * math.sin(2 * math.pi * frequency * i / RATE)) for i in range(count)]
        samples += [0] * round(GAP_SECONDS * RATE)
    with wave.open(path, "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(b"".join(struct.pack("<hh", s, s) for s in samples))


def read_left(path):
    with wave.open(path) as w:
        assert (w.getframerate(), w.getnchannels(), w.getsampwidth()) == (RATE, 2, 2)
        frames = w.readframes(w.getnframes())
    return struct.unpack("<%dh" % (len(frames) // 2), frames)[0::2]


def loud_stretches(left):
    """(first, end) sample ranges of consecutive 10 ms blocks whose level is well above silence."""
    stretches, first = [], None
    for start in range(0, len(left) - BLOCK + 1, BLOCK):
        rms = math.sqrt(sum(v * v for v in left[start:start + BLOCK]) / BLOCK)
        if rms > 1000 and first is None:
            first = start
        elif rms <= 1000 and first is not None:
            stretches.append((first, start))
            first = None
    return stretches


def check_tone(left, stretch, tone):
    frequency, seconds, amplitude = tone
    first, end = stretch
    length = (end - first) / RATE
    # A block holding a few samples of the tone is already loud, so the stretch covers the tone and at most one
    # block more on each side; anything shorter lost the tone's start or end.
    assert seconds - 0.003 <= length <= seconds + 0.021, "%d Hz: %.3f s of %.3f s came back" % (
        frequency, length, seconds)
    inner = left[first + BLOCK:end - BLOCK]
    crossings = sum(1 for i in range(1, len(inner)) if inner[i - 1] < 0 <= inner[i])
    pitch = crossings / (len(inner) / RATE)
    assert abs(pitch - frequency) < frequency * 0.03, "%d Hz came back at %.1f Hz" % (frequency, pitch)
    rms = math.sqrt(sum(v * v for v in inner) / len(inner))
    expected = amplitude * 32767 / math.sqrt(2)
    assert abs(rms - expected) < expected * 0.1, "%d Hz: level %.0f, expected %.0f" % (frequency, rms, expected)
    return "%d Hz %.3f s" % (round(pitch), length)


def display_size():
    info = subprocess.run(["xdpyinfo"], check=True, capture_output=True, text=True).stdout
    return re.search(r"dimensions:\s+(\d+x\d+) pixels", info).group(1)


def starve_recorder():
    """Holds the recorder (its own process group) while the tones play, as a loaded machine may, and lets it go
    only after stop was called: stop must still wait for everything played before it."""
    with open(recording + ".pid") as f:
        group = int(f.read().split()[0])
    os.killpg(group, signal.SIGSTOP)
    return threading.Timer(0.3, os.killpg, (group, signal.SIGCONT))


def record(hold_recorder):
    record_script = os.path.join(scripts, "harness-record")
    # Recording has begun when start returns, so the first tone is played from its first sample onwards.
    subprocess.run([record_script, "start", recording], check=True)
    release = starve_recorder() if hold_recorder else None
    subprocess.run(["paplay", played], check=True)
    if release:
        release.start()
    subprocess.run([record_script, "stop", recording], check=True)
    return read_left(recording)


write_tones(played)
heard = []
for hold_recorder in (False, True):
    left = record(hold_recorder)
    stretches = loud_stretches(left)
    assert len(stretches) == len(TONES), "%d tones came back as %d loud stretches%s" % (
        len(TONES), len(stretches), " (recorder held)" if hold_recorder else "")
    heard = [check_tone(left, stretch, tone) for stretch, tone in zip(stretches, TONES)]

subprocess.run([os.path.join(scripts, "harness-shot"), shot], check=True)
size = subprocess.run(["identify", "-format", "%wx%h", shot], check=True, capture_output=True, text=True).stdout
assert size == display_size(), "screenshot %s of a %s display" % (size, display_size())
print("recorded %s; screenshot %s" % (", ".join(heard), size))
