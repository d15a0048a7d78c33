// The network error line reads the Winsock error through the entry engine start-up binds: nothing before the
// start (even with ws2_32 loaded by someone else and an error set), the thread's error while the engine runs,
// nothing again once the end has freed the libraries.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "core/core.h"
#include "test_log.h"

typedef void(WINAPI *WsaSetLastErrorFunction)(int);

static bool LogHasLine(const std::string &line)
{
    std::vector<std::string> lines = ReadTestLogLines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(NetworkErrorLine, CarriesTheErrorOfTheBoundWinsockEntryOnly)
{
    HMODULE winsock = LoadLibraryA("ws2_32.dll");
    ASSERT_NE(winsock, (HMODULE)NULL);
    WsaSetLastErrorFunction setLastError =
        (WsaSetLastErrorFunction)(void (*)(void))GetProcAddress(winsock, "WSASetLastError");
    ASSERT_NE(setLastError, (WsaSetLastErrorFunction)NULL);

    const struct {
        const char *stage;
        int error;
        const char *expected;
    } cases[] = {
        {"before", 10061, "ネットワークログ。before[0]"},
        {"running", 10054, "ネットワークログ。running[10054]"},
        {"after", 10053, "ネットワークログ。after[0]"},
    };
    StartTestLog();
    for (const auto &c : cases) {
        std::string stage = c.stage;
        if (stage == "running") {
            SetMainWindowTitle("QvNetworkErrorLine");
            ChangeWindowMode(1);
            ASSERT_EQ(InitEngine(), 0);
        } else if (stage == "after") {
            ASSERT_EQ(EndEngine(), 0);
        }
        setLastError(c.error);
        EXPECT_EQ(LogNetworkError("%s", c.stage), -1);
        EXPECT_TRUE(LogHasLine(c.expected)) << c.stage << "\n" << ReadTestLog();
    }
    FreeLibrary(winsock);
}
