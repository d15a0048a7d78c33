// Image loader benchmarks: filled in by the loader work.
#include "bench/bench.h"

void RunJpegBenchmarks(const char *scratchFolder) { (void)scratchFolder; }
