// Writes the seed corpus of the Ogg Vorbis fuzz target into the folder given: short tone files, mono and stereo, at
// two rates, and one chained file of both.
#include "sound/convert_vorbis.h"

#include <stdio.h>

#include <string>

static int WriteSeed(const std::string &path, const std::vector<uint8_t> &bytes)
{
    FILE *file = fopen(path.c_str(), "wb");
    if (file == NULL || fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
        return 1;
    }
    return fclose(file) != 0;
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        return 2;
    }
    std::string folder = argv[1];
    std::vector<uint8_t> mono = EncodeToneOggVorbis(1, 8000, 0.3, 1), stereo = EncodeToneOggVorbis(2, 22050, 0.2, 2);
    std::vector<uint8_t> chained = stereo;
    chained.insert(chained.end(), mono.begin(), mono.end());
    return WriteSeed(folder + "/mono", mono) | WriteSeed(folder + "/stereo", stereo) |
           WriteSeed(folder + "/chained", chained);
}
