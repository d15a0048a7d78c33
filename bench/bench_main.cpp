// The benchmark program's entry: runs every section in order and prints one ratio line per measurement.
// Usage: qvbench [scratch folder]. Single-threaded.
#include "bench/bench.h"

int main(int argc, char **argv) {
    const char *scratch = argc > 1 ? argv[1] : ".";
    RunJpegBenchmarks(scratch);
    RunTransferBenchmarks(scratch);
    RunFileBenchmarks(scratch);
    RunSoundBenchmarks(scratch);
    return 0;
}
