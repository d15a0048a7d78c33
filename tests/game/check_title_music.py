#!/usr/bin/env python3
"""Five seconds of the sink's recording while the title is on screen, compared with each of the nine generated music
loops by the peak of their normalised cross-correlation over every offset into the loop (the loop continued past its
end). A loaded machine can drop parts of the recording, which shifts what follows, so each two-second stretch of
it, a second apart, is compared on its own and the stretch that matches some loop best is judged: there the title's
track 201 must score highest, at least 0.2 above the next. Both are first brought to one mono rate of 2,756.25 Hz by
block averages; the correlations come from a radix-2 FFT, each loop's transform made once for all stretches.
Usage: check_title_music.py PROGRAM RUN_FOLDER SOURCE_ROOT CONTENT_FOLDER"""
import cmath
import math
import os
import subprocess
import sys
import time

from game_harness import GameRun, read_wav_mono

RATE = 2756.25  # 44,100 / 16 and 22,050 / 8
TRACKS = range(201, 210)
RECORD_SECONDS = 5.0
STRETCH_SECONDS = 2.0


def downsample(rate, samples):
    block = round(rate / RATE)
    assert block * RATE == rate, f"a rate of {rate} Hz"
    return [sum(samples[i:i + block]) / block for i in range(0, len(samples) - block + 1, block)]


def fft(values, inverse=False):
    """Iterative radix-2 transform of a list of complex numbers whose length is a power of two (unscaled)."""
    n, data = len(values), list(values)
    j = 0
    for i in range(1, n):
        bit = n >> 1
        while j & bit:
            j ^= bit
            bit >>= 1
        j |= bit
        if i < j:
            data[i], data[j] = data[j], data[i]
    size, sign = 2, (1 if inverse else -1)
    while size <= n:
        half, step = size // 2, cmath.exp(sign * 2j * math.pi / size)
        twiddles = [1.0] * half
        for k in range(1, half):
            twiddles[k] = twiddles[k - 1] * step
        for start in range(0, n, size):
            for k in range(half):
                a, b = data[start + k], data[start + k + half] * twiddles[k]
                data[start + k], data[start + k + half] = a + b, a - b
        size *= 2
    return data


def loop_spectra(tracks, m):
    """What every stretch is compared with, made once: the loops (each continued by m samples past its end), their
    transforms, two real loops to one transform (one as the real part, one as the imaginary part), and each loop's
    running sums of samples and of squares. Answers the transform size, the transforms and the running sums."""
    loops = [t + t[:m] for t in tracks]
    n = 1 << (max(len(loop) for loop in loops)).bit_length()
    spectra = []
    for pair in range(0, len(loops), 2):
        two = loops[pair:pair + 2] + [[]]
        spectra.append(fft([complex(a, b) for a, b in zip(two[0] + [0.0] * (n - len(two[0])),
                                                          two[1] + [0.0] * (n - len(two[1])))]))
    running = []
    for loop in loops:
        sums, squares = [0.0], [0.0]
        for v in loop:
            sums.append(sums[-1] + v)
            squares.append(squares[-1] + v * v)
        running.append((sums, squares))
    return n, spectra, running


def correlation_peaks(stretch, n, spectra, running):
    """For each loop, the peak over offsets into it of the normalised cross-correlation with the stretch."""
    m = len(stretch)
    mean = sum(stretch) / m
    centred = [v - mean for v in stretch]
    norm = math.sqrt(sum(v * v for v in centred))
    spectrum_r = [v.conjugate() for v in fft(centred + [0.0] * (n - m))]
    peaks = []
    for pair, spectrum in enumerate(spectra):
        # Correlation is linear: the real part of the result belongs to the first loop, the imaginary to the second.
        products = fft([a * b for a, b in zip(spectrum, spectrum_r)], inverse=True)
        for which, (sums, squares) in enumerate(running[2 * pair:2 * pair + 2]):
            best = 0.0
            for offset in range(len(sums) - m):
                total = sums[offset + m] - sums[offset]
                energy = squares[offset + m] - squares[offset] - total * total / m
                dot = (products[offset].real if which == 0 else products[offset].imag) / n
                if energy > 0 and norm > 0:
                    best = max(best, dot / (norm * math.sqrt(energy)))
            peaks.append(best)
    return peaks


def record_title(root, program, folder):
    """Holds the title (its music playing since the first frame) while the sink is recorded; answers the
    recording's left and right channels averaged, at 44.1 kHz."""
    record = os.path.join(root, "scripts", "harness-record")
    with GameRun(root, program, folder, ["--stop-at", "3", "--frames", "5"]) as run:
        recording = run.path("title.wav")
        line = run.wait_held()
        assert line["CurrentTrack"] == "0", f"the title's track is not playing: {line}"
        time.sleep(0.5)
        subprocess.run([record, "start", recording], check=True)
        time.sleep(RECORD_SECONDS)
        subprocess.run([record, "stop", recording], check=True)
        run.release()
        code = run.finish()
    assert code == 0, f"the run ended with {code}"
    rate, samples = read_wav_mono(recording)
    return rate, samples[:round(RECORD_SECONDS * rate)]


def main():
    program, folder, root, content = sys.argv[1:5]
    recording = downsample(*record_title(root, program, folder))
    tracks = [downsample(*read_wav_mono(os.path.join(content, f"music_{track}.wav"))) for track in TRACKS]
    m = round(STRETCH_SECONDS * RATE)
    n, spectra, running = loop_spectra(tracks, m)
    judged = None
    for start in range(0, len(recording) - m + 1, round(RATE)):
        scores = correlation_peaks(recording[start:start + m], n, spectra, running)
        print(f"{start / RATE:.0f} s: " + " ".join(f"{track}:{score:.3f}" for track, score in zip(TRACKS, scores)))
        ranked = sorted(zip(scores, TRACKS), reverse=True)
        judged = max(judged or ranked, ranked)
    assert judged[0][1] == 201, f"track {judged[0][1]} matches the title's recording best"
    lead = judged[0][0] - judged[1][0]
    assert lead >= 0.2, f"track 201 leads track {judged[1][1]} by only {lead:.3f}"


if __name__ == "__main__":
    main()
