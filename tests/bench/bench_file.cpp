// File benchmarks: filled in by the file work.
#include "bench/bench.h"

void RunFileBenchmarks(const char *scratchFolder) { (void)scratchFolder; }
