// Shared pieces of the benchmark program: a clock, the best-of-N timing loop and the one output line format.
#pragma once

#include <vector>

// Seconds on the performance counter.
double BenchSeconds(void);

// Runs `body` `rounds` times and returns the fastest round in seconds: the least disturbed measure on a busy machine.
template <typename Body> double BenchBest(int rounds, Body body) {
    double best = 1e30;
    for (int i = 0; i < rounds; i++) {
        double start = BenchSeconds();
        body();
        double spent = BenchSeconds() - start;
        if (spent < best) best = spent;
    }
    return best;
}

// Prints "name: measured / reference = ratio" with both times in milliseconds.
void BenchReport(const char *name, double measuredSeconds, const char *referenceName, double referenceSeconds);

// A PNG file (8-bit R, G, B, not interlaced) of the picture given as R, G, B rows back to back.
std::vector<unsigned char> EncodeRgbPng(const unsigned char *rgb, int width, int height);

// Sections, each in a file of its own; they take the folder they may write scratch files into.
void RunTransferBenchmarks(const char *scratchFolder);
void RunJpegBenchmarks(const char *scratchFolder);
void RunFileBenchmarks(const char *scratchFolder);
void RunSoundBenchmarks(const char *scratchFolder);
