// The benchmark programs' shared clock and report line. Single-threaded.
#include "bench/bench.h"

#include <windows.h>
#include <stdio.h>

double BenchSeconds(void) {
    static LARGE_INTEGER frequency;
    if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (double)now.QuadPart / (double)frequency.QuadPart;
}

void BenchReport(const char *name, double measuredSeconds, const char *referenceName, double referenceSeconds) {
    printf("%-44s %9.3f ms / %-28s %9.3f ms = %6.2fx\n", name, measuredSeconds * 1000.0, referenceName,
           referenceSeconds * 1000.0, referenceSeconds > 0 ? measuredSeconds / referenceSeconds : 0.0);
    fflush(stdout);
}
