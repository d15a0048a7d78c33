#!/usr/bin/env bash
# Writes the compressed fixtures of the converter tests into the folder given: a 440 Hz tone as IMA ADPCM and
# MS ADPCM WAVE (22,050 Hz stereo, 1.5 s) by sox, and as MP3 by lame with an ID3v2 tag and a trailing "TAG":
# MPEG-1 (44,100 Hz stereo) and MPEG-2 (22,050 Hz mono), 2 s each. Also Layer III at each rate of each MPEG
# version ("layer3_RATE.mp3": MPEG-1 32, 44.1, 48 kHz; MPEG-2 16, 22.05, 24 kHz; MPEG 2.5 8, 11.025, 12 kHz), 1 s mono
# rising sweeps, with lame's decode of each ("layer3_RATE.decoded.wav").
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
for rate in 32000 44100 48000 16000 22050 24000 8000 11025 12000; do
    sox -n -r $rate -c 1 -b 16 "$work/sweep$rate.wav" synth 1 sine 100-3000 vol 0.5
    lame --quiet -b 32 --resample $rate "$work/sweep$rate.wav" "$out/layer3_$rate.mp3"
    lame --quiet --decode "$out/layer3_$rate.mp3" "$out/layer3_$rate.decoded.wav"
done
