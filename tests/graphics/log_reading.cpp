#include "graphics/log_reading.h"

#include <windows.h>

std::string ReadLogText(void)
{
    std::string text;
    HANDLE file =
        CreateFileA("Log.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    char buffer[4096];
    DWORD read = 0;
    while (file != INVALID_HANDLE_VALUE && ReadFile(file, buffer, sizeof(buffer), &read, NULL) && read > 0) {
        text.append(buffer, read);
    }
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
    return text;
}

std::string FirstMissingInOrder(const std::string &log, const std::vector<std::string> &lines)
{
    size_t position = 0;
    for (const std::string &line : lines) {
        position = log.find(line, position);
        if (position == std::string::npos) {
            return line;
        }
        position += line.size();
    }
    return std::string();
}
