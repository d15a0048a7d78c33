// The archive tests' data: the tree the packer archived at build time (read from disk through the plain set)
// and the packer configurations (folder and the key string its archive needs), from configs.txt.
#pragma once

#include "file_test_support.h"

#include <map>

struct PackerConfig {
    std::string folder;
    std::string key; // empty: a built-in key
};

inline std::vector<PackerConfig> LoadPackerConfigs()
{
    std::vector<PackerConfig> configs;
    std::vector<uint8_t> text = ReadBytesFromFile("configs.txt");
    std::string line;
    for (uint8_t c : text) {
        if (c != '\n') {
            line += (char)c;
            continue;
        }
        size_t tab = line.find('\t');
        configs.push_back({line.substr(0, tab), tab == std::string::npos ? "" : line.substr(tab + 1)});
        line.clear();
    }
    return configs;
}

// Relative path (with '\') -> contents, of every file under `root`.
inline void LoadTree(const std::string &root, const std::string &relative,
                     std::map<std::string, std::vector<uint8_t>> *out)
{
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((root + "\\" + relative + "*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..") {
            continue;
        }
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            LoadTree(root, relative + name + "\\", out);
        } else {
            (*out)[relative + name] = ReadBytesFromFile(root + "\\" + relative + name);
        }
    } while (FindNextFileA(find, &found));
    FindClose(find);
}

inline std::map<std::string, std::vector<uint8_t>> LoadTestTree()
{
    std::map<std::string, std::vector<uint8_t>> tree;
    LoadTree("TREE", "", &tree);
    return tree;
}

// Reads a whole stream in pieces of `piece` bytes until the end, waiting for asynchronous reads.
inline std::vector<uint8_t> ReadWholeStream(const StreamRef &stream, size_t piece, int limit = 100000)
{
    std::vector<uint8_t> out;
    std::vector<uint8_t> buffer(piece);
    for (int i = 0; i < limit; i++) {
        size_t got = stream.functions.read(buffer.data(), 1, piece, stream.handle);
        while (stream.functions.idle(stream.handle) == 0) {
            Sleep(0);
        }
        if (got == 0) {
            break;
        }
        out.insert(out.end(), buffer.begin(), buffer.begin() + (long)got);
    }
    return out;
}

inline StreamRef OpenFileStream(const std::string &path, int cacheFlag = 0, int asyncFlag = 0)
{
    StreamRef stream;
    stream.functions = *GetFileStreamFunctions();
    stream.handle = FileOpenThunk(path.c_str(), cacheFlag, 0, asyncFlag);
    return stream;
}
