// Engine start and end for the input tests: a COM creation stand-in that refuses chosen DirectInput versions and
// passes everything else to the real entry.
#include "input_test_engine.h"

#include <objbase.h>

static bool s_Refuse7, s_Refuse8;

static HRESULT WINAPI RefusingCoCreateInstance(REFCLSID classId, LPUNKNOWN outer, DWORD context, REFIID id, LPVOID *out)
{
    if ((s_Refuse7 && IsEqualCLSID(classId, CLSID_DirectInput)) ||
        (s_Refuse8 && IsEqualCLSID(classId, CLSID_DirectInput8))) {
        *out = NULL;
        return REGDB_E_CLASSNOTREG;
    }
    return CoCreateInstance(classId, outer, context, id, out);
}

void StartInputEngine(bool refuseDirectInput7, bool refuseDirectInput8)
{
    s_Refuse7 = refuseDirectInput7;
    s_Refuse8 = refuseDirectInput8;
    SetBoundEntryForTest(BOUND_OLE32, OLE_CO_CREATE_INSTANCE, (FARPROC)(void (*)(void))RefusingCoCreateInstance);
    g_InputState.settings.noDirectInput = 0; // a setting kept over restarts: each test chooses afresh
    SetMainWindowTitle("QvInputTests");
    ChangeWindowMode(1);
    SetEngineStartOptions(0, 1, 1);
    ASSERT_EQ(InitEngine(), 0);
    // The start-up's activation and focus messages are handled before a test sets keys (they may reset them).
    DWORD start = GetTickCount();
    while (GetTickCount() - start < 300) {
        ProcessWindowMessages();
        Sleep(5);
    }
}

void EndInputEngine(void)
{
    EXPECT_EQ(EndEngine(), 0);
    SetBoundEntryForTest(BOUND_OLE32, OLE_CO_CREATE_INSTANCE, NULL);
    SetBoundEntryForTest(BOUND_WINMM, WINMM_JOY_GET_DEV_CAPS, NULL);
    SetBoundEntryForTest(BOUND_WINMM, WINMM_JOY_GET_POS_EX, NULL);
}
