// The archive packer, run on the build machine: writes a folder as a "QVA" archive, or packs one file into the
// archive compression's buffer format.
//   qvapack [-v VERSION] [-c | -C] [-k KEY | -2] [-p CODEPAGE] [-z] FOLDER OUTPUT
//   qvapack -f INPUT OUTPUT
// -c packs the files that get smaller, -C packs every file, -k scrambles with a key string, -2 with the second
// built-in key, -p sets the names' code page (default 932; recorded in the archive from version 4, older
// versions are read with the reader's own), -z packs the finished archive image as a whole. Host file names are
// UTF-8: each is converted to the code page, and a name the code page cannot hold is refused. Every packed
// buffer is decoded back before it is written. Entries are taken in byte order of their names, so the output
// depends only on the folder's contents.
#include "tools/qva_writer.h"

#include <iconv.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

static const uint64_t kUnixEpochInFileTime = 116444736000000000ull;

static int Usage(void)
{
    fprintf(stderr, "usage: qvapack [-v VERSION] [-c|-C] [-k KEY|-2] [-p CODEPAGE] [-z] FOLDER OUTPUT\n"
                    "       qvapack -f INPUT OUTPUT\n");
    return 2;
}

static bool ReadWholeFile(const fs::path &path, std::vector<uint8_t> *data)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    data->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

static bool WriteWholeFile(const char *path, const std::vector<uint8_t> &data)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write((const char *)data.data(), (std::streamsize)data.size());
    return (bool)out;
}

static uint64_t ToFileTime(fs::file_time_type time)
{
    auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::file_clock::to_sys(time).time_since_epoch());
    return kUnixEpochInFileTime + (uint64_t)seconds.count() * 10000000ull;
}

// Converts a UTF-8 host name to the archive's code page; false when the code page cannot hold it.
static bool ConvertName(const std::string &name, uint32_t codePage, std::string *out)
{
    std::string encoding = "CP" + std::to_string(codePage);
    iconv_t converter = iconv_open(encoding.c_str(), "UTF-8");
    if (converter == (iconv_t)-1) {
        return false;
    }
    std::vector<char> input(name.begin(), name.end());
    std::vector<char> output(name.size() * 2 + 4);
    char *in = input.data();
    char *result = output.data();
    size_t inLeft = input.size(), outLeft = output.size();
    bool converted = iconv(converter, &in, &inLeft, &result, &outLeft) != (size_t)-1 &&
                     iconv(converter, nullptr, nullptr, &result, &outLeft) != (size_t)-1;
    iconv_close(converter);
    out->assign(output.data(), result);
    return converted && out->find('\0') == std::string::npos;
}

static bool CollectEntries(const fs::path &folder, uint32_t codePage, std::vector<QvaWriterEntry> *entries)
{
    std::vector<fs::path> paths;
    for (const auto &item : fs::recursive_directory_iterator(folder)) {
        paths.push_back(item.path());
    }
    std::sort(paths.begin(), paths.end());
    for (const fs::path &path : paths) {
        QvaWriterEntry entry;
        std::string inner = fs::relative(path, folder).generic_string();
        std::replace(inner.begin(), inner.end(), '/', '\\');
        if (!ConvertName(inner, codePage, &entry.path)) {
            fprintf(stderr, "qvapack: the name %s does not convert to code page %u\n", inner.c_str(), codePage);
            return false;
        }
        entry.isDirectory = fs::is_directory(path);
        entry.writeTime = entry.creationTime = entry.accessTime = ToFileTime(fs::last_write_time(path));
        entry.attributes = entry.isDirectory ? 0x10 : 0x20;
        if (!entry.isDirectory && !ReadWholeFile(path, &entry.data)) {
            fprintf(stderr, "qvapack: cannot read %s\n", path.c_str());
            return false;
        }
        entries->push_back(std::move(entry));
    }
    return true;
}

// Packs a buffer in place; the packed form has been decoded back and compared.
static bool PackInPlace(std::vector<uint8_t> *data)
{
    std::vector<uint8_t> packed;
    std::string error;
    if (!PackArchiveData(data->data(), data->size(), &packed, &error)) {
        fprintf(stderr, "qvapack: %s\n", error.c_str());
        return false;
    }
    data->swap(packed);
    return true;
}

static int PackOneFile(const char *input, const char *output)
{
    std::vector<uint8_t> data;
    if (!ReadWholeFile(input, &data)) {
        fprintf(stderr, "qvapack: cannot read %s\n", input);
        return 1;
    }
    return PackInPlace(&data) && WriteWholeFile(output, data) ? 0 : 1;
}

int main(int argc, char **argv)
{
    QvaWriterOptions options;
    bool packWhole = false;
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; i++) {
        const char *option = argv[i];
        bool hasValue = i + 1 < argc;
        if (strcmp(option, "-f") == 0 && i + 2 < argc) {
            return PackOneFile(argv[i + 1], argv[i + 2]);
        } else if (strcmp(option, "-v") == 0 && hasValue) {
            options.version = atoi(argv[++i]);
        } else if (strcmp(option, "-c") == 0) {
            options.compression = QVA_PACK_SMALLER;
        } else if (strcmp(option, "-C") == 0) {
            options.compression = QVA_PACK_ALL;
        } else if (strcmp(option, "-k") == 0 && hasValue) {
            options.keyKind = QVA_KEY_STRING;
            options.keyString = argv[++i];
        } else if (strcmp(option, "-2") == 0) {
            options.keyKind = QVA_KEY_SECOND;
        } else if (strcmp(option, "-p") == 0 && hasValue) {
            options.codePage = (uint32_t)strtoul(argv[++i], nullptr, 10);
        } else if (strcmp(option, "-z") == 0) {
            packWhole = true;
        } else {
            return Usage();
        }
    }
    if (argc - i != 2 || !fs::is_directory(argv[i])) {
        return Usage();
    }
    std::vector<QvaWriterEntry> entries;
    if (!CollectEntries(argv[i], options.codePage, &entries)) {
        return 1;
    }
    std::vector<uint8_t> archive;
    std::string error;
    if (!WriteQvaArchive(entries, options, &archive, &error)) {
        fprintf(stderr, "qvapack: %s\n", error.c_str());
        return 1;
    }
    if (packWhole && !PackInPlace(&archive)) {
        return 1;
    }
    if (!WriteWholeFile(argv[i + 1], archive)) {
        fprintf(stderr, "qvapack: cannot write %s\n", argv[i + 1]);
        return 1;
    }
    return 0;
}
