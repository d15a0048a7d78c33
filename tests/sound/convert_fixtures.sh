#!/usr/bin/env bash
# Writes the compressed fixtures of the converter tests into the folder given: a 440 Hz tone as IMA ADPCM and
# MS ADPCM WAVE (22,050 Hz stereo, 1.5 s) by sox, and as MP3 by lame with an ID3v2 tag and a trailing "TAG":
# MPEG-1 (44,100 Hz stereo) and MPEG-2 (22,050 Hz mono), 2 s each.
set -euo pipefail
out=$1
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sox -n -r 22050 -c 2 -b 16 "$work/tone22.wav" synth 1.5 sine 440
sox "$work/tone22.wav" -e ima-adpcm "$out/ima.wav"
sox "$work/tone22.wav" -e ms-adpcm "$out/ms.wav"
sox -n -r 44100 -c 2 -b 16 "$work/tone44.wav" synth 2 sine 440
sox -n -r 22050 -c 1 -b 16 "$work/tone22mono.wav" synth 2 sine 440
lame --quiet -b 128 --add-id3v2 --tt Tone --ta Test "$work/tone44.wav" "$out/mpeg1.mp3"
lame --quiet -b 64 --add-id3v2 --tt Tone --ta Test "$work/tone22mono.wav" "$out/mpeg2.mp3"
