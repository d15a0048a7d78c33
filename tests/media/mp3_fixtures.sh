#!/usr/bin/env bash
# Writes the MP3 conversion fixtures into the folder given: tones made by sox, encoded by lame, and lame's own
# decode of each as the reference PCM (WAVE). Rising sweeps, so that a sample dropped or repeated anywhere shows.
#   s44_2s   44,100 Hz stereo, 128 kbit/s, 2 s       s44_60s  the same, 60 s (its PCM outgrows ten times the MP3)
#   m22_2s   22,050 Hz mono, 2 s                     m8_2s    8,000 Hz mono, 2 s
set -euo pipefail
out=$1
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
make_tone() { # name rate channels seconds bitrate
    sox -n -r "$2" -c "$3" -b 16 "$work/$1.wav" synth "$4" sine 220-1760 vol 0.5
    lame --quiet -b "$5" "$work/$1.wav" "$out/$1.mp3"
    lame --quiet --decode "$out/$1.mp3" "$out/$1.decoded.wav"
}
make_tone s44_2s 44100 2 2 128
make_tone s44_60s 44100 2 60 128
make_tone m22_2s 22050 1 2 32
make_tone m8_2s 8000 1 2 16
