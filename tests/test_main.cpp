// The entry of every test program run under Wine. gtest starts a watcher thread the first time a thread touches its
// per-thread data (a scoped trace, a failure), and a process that ends while that thread is still starting can crash
// in Wine's process exit. So the data is touched at the start, and a program that ends within half a second of it
// waits out the rest: the watcher is long past its start-up by then.
#include <gtest/gtest.h>

#include <windows.h>

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    const DWORD started = GetTickCount();
    {
        SCOPED_TRACE("start");
    }
    int result = RUN_ALL_TESTS();
    const DWORD settle = 500, spent = GetTickCount() - started;
    if (spent < settle) {
        Sleep(settle - spent);
    }
    return result;
}
