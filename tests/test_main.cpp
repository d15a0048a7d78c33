// The entry of every test program run under Wine. gtest starts a watcher thread the first time a thread touches its
// per-thread data (a scoped trace, a failure), and a process that ends while that thread is still starting can crash
// in Wine's process exit. So the data is touched at the start, and a program that ends within half a second of it
// waits out the rest: the watcher is long past its start-up by then.
// A crash while the tests run must fail the program, on whichever thread it happens: the exit code that Wine's
// debugger leaves a crashed process with is not to be relied on, so the crash is reported here and the process
// ends with code 3. A crash after the last test (in Wine's process exit) ends it with the tests' own result.
#include <gtest/gtest.h>

#include <stdio.h>
#include <windows.h>

static volatile LONG s_TestsOver;
static volatile LONG s_Result;

static LONG WINAPI EndCrashedProgram(EXCEPTION_POINTERS *crash)
{
    if (s_TestsOver == 0) {
        fprintf(stderr, "\ncrashed: exception 0x%08lx at %p\n", crash->ExceptionRecord->ExceptionCode,
                crash->ExceptionRecord->ExceptionAddress);
        fflush(stderr);
        TerminateProcess(GetCurrentProcess(), 3);
    }
    TerminateProcess(GetCurrentProcess(), (UINT)s_Result);
    return EXCEPTION_EXECUTE_HANDLER;
}

int main(int argc, char **argv)
{
    SetUnhandledExceptionFilter(EndCrashedProgram);
    testing::InitGoogleTest(&argc, argv);
    const DWORD started = GetTickCount();
    {
        SCOPED_TRACE("start");
    }
    s_Result = RUN_ALL_TESTS();
    s_TestsOver = 1;
    const DWORD settle = 500, spent = GetTickCount() - started;
    if (spent < settle) {
        Sleep(settle - spent);
    }
    return s_Result;
}
