#!/usr/bin/env python3
"""Reads back with Python's wave module each file that the "WAV Dest" test left in its folder (argv[1]):
wav_dest_<format>_<count>.wav must be a 46-byte header (18-byte format) holding the test source's format (0: 16-bit
stereo 44.1 kHz, 1: 8-bit mono 8 kHz), then exactly the PCM bytes it sent, which the test left beside it as
wav_dest_<format>_<count>.pcm."""
import glob
import os
import struct
import sys
import wave

FORMATS = {"0": (2, 2, 44100), "1": (1, 1, 8000)}  # channels, bytes per sample, rate

failures = []
files = sorted(glob.glob(os.path.join(sys.argv[1], "wav_dest_*.wav")))
if len(files) != 4:
    failures.append(f"expected 4 files, found {len(files)}")
for path in files:
    format_key = os.path.basename(path).split("_")[2]
    sent = open(path[:-4] + ".pcm", "rb").read()
    raw = open(path, "rb").read()
    sizes = struct.unpack_from("<I", raw, 4) + struct.unpack_from("<I", raw, 16) + struct.unpack_from("<I", raw, 42)
    if len(raw) != 46 + len(sent) or sizes != (len(raw) - 8, 18, len(sent)):
        failures.append(f"{path}: {len(raw)} bytes, RIFF/format/data sizes {sizes}, {len(sent)} bytes sent")
    with wave.open(path, "rb") as reader:
        params = (reader.getnchannels(), reader.getsampwidth(), reader.getframerate())
        frames = reader.readframes(reader.getnframes())
    if params != FORMATS[format_key]:
        failures.append(f"{path}: format {params}, expected {FORMATS[format_key]}")
    if frames != sent:
        failures.append(f"{path}: {len(frames)} bytes read back, {len(sent)} sent or different")
for failure in failures:
    print(failure)
sys.exit(1 if failures else 0)
