// qvcontent FOLDER: makes the game's pictures, music and sound effects into FOLDER and writes the resource script
// content.rc that compiles them into the program under their types and ids. Any failed check ends it with status
// 1 and the check's line, which fails the build.
#include "content.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

std::string ContentFileName(const char *type, int id)
{
    std::string name = type;
    for (char &c : name) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return name + "_" + std::to_string(id) + (name == "png" || name == "cg" ? ".png" : ".wav");
}

// The resources the game loads, by type: first and last id.
struct ResourceRange {
    const char *type;
    int first;
    int last;
};
static const ResourceRange RESOURCES[] = {{"PNG", 102, 104}, {"CG", 110, 156}, {"MUSIC", 201, 209}, {"SE", 300, 307}};

static bool WriteResourceScript(const std::string &folder)
{
    std::ofstream script(folder + "/content.rc.tmp", std::ios::binary);
    script << "// Made by qvcontent: the game's generated content.\n";
    for (const ResourceRange &range : RESOURCES) {
        for (int id = range.first; id <= range.last; id++) {
            script << id << " " << range.type << " \"" << folder << "/" << ContentFileName(range.type, id) << "\"\n";
        }
    }
    script.close();
    if (!script) {
        return false;
    }
    std::error_code error;
    std::filesystem::rename(folder + "/content.rc.tmp", folder + "/content.rc", error);
    return !error;
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: qvcontent FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    for (auto generate : {GenerateArt, GenerateAudio}) {
        const std::string failure = generate(folder);
        if (!failure.empty()) {
            std::fprintf(stderr, "qvcontent: %s\n", failure.c_str());
            return 1;
        }
    }
    if (!WriteResourceScript(folder)) {
        std::fprintf(stderr, "qvcontent: cannot write %s/content.rc\n", folder.c_str());
        return 1;
    }
    return 0;
}
