// The common ending of the content-checking tools (tools/generated_source.h). Build machine only.
#include "generated_source.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

int FinishGeneratedSource(const char *tool, const std::vector<std::string> &faults, const std::string &output,
                          const std::function<void(std::ostream &)> &write)
{
    std::error_code error;
    std::filesystem::remove(output, error);
    for (const std::string &fault : faults) {
        std::fprintf(stderr, "%s: %s\n", tool, fault.c_str());
    }
    if (!faults.empty()) {
        return 1;
    }
    const std::string partial = output + ".tmp";
    std::ofstream out(partial, std::ios::binary);
    write(out);
    out.close();
    if (out) {
        std::filesystem::rename(partial, output, error);
    }
    if (!out || error) {
        std::fprintf(stderr, "%s: cannot write %s\n", tool, output.c_str());
        return 1;
    }
    return 0;
}
