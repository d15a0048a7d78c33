// File benchmarks: opening and closing plain disk files through the archive-aware file set (which first looks
// for an archive standing for each directory of the path) against plain CreateFileA/CloseHandle and against the
// plain file set on the same files. The files lie in nested folders of a game-like install, QVGAME\DATA\Dn\Sm\Fk.DAT,
// twice: in a quiet folder, C:\QVGAME on the Wine prefix's own drive, as an installed game sees it; and in the
// scratch folder, which sits in the machine's temporary folder, whose own folder changes all the time with other
// programs' files. The trees are removed afterwards.
#include "bench/bench.h"

#include "file/file.h"

#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

static const int kTopFolders = 6;
static const int kSubFolders = 4;
static const int kFilesPerFolder = 25;
static const int kRounds = 9;
// Installed data is older than this; path resolution trusts only folders unchanged for 2 s.
static const DWORD kSettleMs = 2500;

// Makes Dn\Sm\Fk.DAT below the root and returns the files' absolute paths.
static std::vector<std::string> MakeFileTree(const std::string &root)
{
    std::vector<std::string> paths;
    CreateDirectoryA(root.c_str(), NULL);
    for (int d = 0; d < kTopFolders; d++) {
        std::string top = root + "\\D" + std::to_string(d);
        CreateDirectoryA(top.c_str(), NULL);
        for (int s = 0; s < kSubFolders; s++) {
            std::string folder = top + "\\S" + std::to_string(s);
            CreateDirectoryA(folder.c_str(), NULL);
            for (int f = 0; f < kFilesPerFolder; f++) {
                std::string path = folder + "\\F" + std::to_string(f) + ".DAT";
                HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
                DWORD written = 0;
                WriteFile(file, path.c_str(), (DWORD)path.size(), &written, NULL);
                CloseHandle(file);
                paths.push_back(path);
            }
        }
    }
    return paths;
}

static void RemoveFileTree(const std::string &root, const std::vector<std::string> &paths)
{
    for (const std::string &path : paths) {
        DeleteFileA(path.c_str());
    }
    for (int d = 0; d < kTopFolders; d++) {
        std::string top = root + "\\D" + std::to_string(d);
        for (int s = 0; s < kSubFolders; s++) {
            RemoveDirectoryA((top + "\\S" + std::to_string(s)).c_str());
        }
        RemoveDirectoryA(top.c_str());
    }
    RemoveDirectoryA(root.c_str());
}

// Opens and closes every file through the three routes in alternating rounds, so that a busy spell of the
// machine falls on all three, and prints the archive-aware route against the other two.
static void MeasureOpens(const std::vector<std::string> &paths, const char *where)
{
    int failures = 0;
    auto plainOpens = [&]() {
        for (const std::string &path : paths) {
            HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, NULL);
            failures += file == INVALID_HANDLE_VALUE;
            CloseHandle(file);
        }
    };
    auto archiveAwareOpens = [&]() {
        for (const std::string &path : paths) {
            FileHandle file = ArchiveAwareOpen(path.c_str(), 0, 0, 0);
            failures += file == 0;
            ArchiveAwareClose(file);
        }
    };
    // The plain set alone: what the archive-aware set does once no archive stands for the path.
    auto plainSetOpens = [&]() {
        for (const std::string &path : paths) {
            FileHandle file = WinFileOpen(path.c_str(), 0, 0, 0);
            failures += file == 0;
            WinFileClose(file);
        }
    };
    double plain = 1e30, plainSet = 1e30, archiveAware = 1e30;
    for (int round = 0; round < kRounds; round++) {
        plain = std::min(plain, BenchBest(1, plainOpens));
        plainSet = std::min(plainSet, BenchBest(1, plainSetOpens));
        archiveAware = std::min(archiveAware, BenchBest(1, archiveAwareOpens));
    }
    char name[80];
    snprintf(name, sizeof(name), "archive-aware open+close, %d files %s", (int)paths.size(), where);
    BenchReport(name, archiveAware, "CreateFileA+CloseHandle", plain);
    BenchReport(name, archiveAware, "WinFileOpen+WinFileClose", plainSet);
    if (failures != 0) {
        printf("file benchmark: %d opens failed\n", failures);
    }
}

void RunFileBenchmarks(const char *scratchFolder)
{
    char scratch[MAX_PATH];
    DWORD length = GetFullPathNameA(scratchFolder, sizeof(scratch), scratch, NULL);
    if (length == 0 || length >= sizeof(scratch)) {
        printf("file benchmark: no scratch folder\n");
        return;
    }
    const std::string games[] = {"C:\\QVGAME", std::string(scratch) + "\\QVGAME"};
    std::vector<std::string> paths[2];
    for (int i = 0; i < 2; i++) {
        CreateDirectoryA(games[i].c_str(), NULL);
        paths[i] = MakeFileTree(games[i] + "\\DATA");
    }
    Sleep(kSettleMs);
    MeasureOpens(paths[0], "in a quiet folder");
    MeasureOpens(paths[1], "below the temp folder");
    CloseUnusedArchives();
    for (int i = 0; i < 2; i++) {
        RemoveFileTree(games[i] + "\\DATA", paths[i]);
        RemoveDirectoryA(games[i].c_str());
    }
}
