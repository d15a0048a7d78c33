// Pixel transfer benchmarks: filled in by the transfer work.
#include "bench/bench.h"

void RunTransferBenchmarks(const char *scratchFolder) { (void)scratchFolder; }
