// Input start-up and end: DirectInput 7, else 8, else the Windows keyboard state with winmm joysticks; the mouse
// and keyboard devices, their re-acquisition on activation changes and their release. Every device is forgotten
// when it is released, so a later activation touches only devices that exist. Window thread only.
#include "input/input_internal.h"

#include <objbase.h>

InputState g_InputState;

typedef HRESULT(WINAPI *CoCreateInstanceFunction)(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID *);

HRESULT CreateInputDevice(REFGUID guid, IDirectInputDevice7A **device)
{
    *device = NULL;
    if (g_InputState.directInput8) {
        IDirectInput8A *object = (IDirectInput8A *)g_InputState.directInput;
        return object->CreateDevice(guid, (IDirectInputDevice8A **)device, NULL);
    }
    return DirectInputObject()->CreateDeviceEx(guid, IID_IDirectInputDevice7A, (void **)device, NULL);
}

void ReleaseInputDevice(IDirectInputDevice7A **device)
{
    if (*device != NULL) {
        (*device)->Unacquire();
        (*device)->Release();
        *device = NULL;
    }
}

// One try at a DirectInput object of one version: created through the bound COM entry and initialised.
static IUnknown *CreateDirectInput(REFCLSID classId, REFIID interfaceId, DWORD version)
{
    CoCreateInstanceFunction create =
        (CoCreateInstanceFunction)(void (*)(void))GetBoundEntry(BOUND_OLE32, OLE_CO_CREATE_INSTANCE);
    IUnknown *object = NULL;
    HRESULT result =
        create != NULL ? create(classId, NULL, CLSCTX_INPROC_SERVER, interfaceId, (void **)&object) : E_NOINTERFACE;
    if (FAILED(result) || object == NULL) {
        AddLog("取得に失敗。\n");
        LogFormatLine("エラーコード 0x%x", (unsigned int)result);
        return NULL;
    }
    AddLog("成功\n");
    LogIndentIncrease();
    AddLog("引き続き初期化処理... ");
    // Initialize has the same place and arguments in both versions' interfaces.
    if (FAILED(((IDirectInput7A *)object)->Initialize(GetModuleHandleA(NULL), version))) {
        AddLog("初期化に失敗。\n");
        LogIndentDecrease();
        object->Release();
        return NULL;
    }
    // The level stays open until the devices are made.
    AddLog("初期化成功\n");
    return object;
}

static int CreateDirectInputObject(void)
{
    AddLog("DirectInput関係初期化処理\n");
    LogIndentIncrease();
    AddLog("DirectInput7 の取得中... ");
    g_InputState.directInput = CreateDirectInput(CLSID_DirectInput, IID_IDirectInput7A, 0x700);
    if (g_InputState.directInput == NULL) {
        AddLog("DirectInput8 の取得を試みます...");
        g_InputState.directInput = CreateDirectInput(CLSID_DirectInput8, IID_IDirectInput8A, 0x800);
        g_InputState.directInput8 = g_InputState.directInput != NULL;
    }
    if (g_InputState.directInput == NULL) {
        LogIndentDecrease();
        AddLog("DirectInput を使用しません。\n");
        g_InputState.settings.noDirectInput = 1;
        return -1;
    }
    return 0;
}

// Each step's failure ends the process with its own text.
static void FailDevice(IDirectInputDevice7A **device, const char *message)
{
    ReleaseInputDevice(device);
    FatalErrorExit(message);
}

static void SetupMouse(void)
{
    AddLog("マウスデバイスの初期化... ");
    IDirectInputDevice7A **mouse = &g_InputState.mouse;
    if (FAILED(CreateInputDevice(GUID_SysMouse, mouse))) {
        FailDevice(mouse, "マウスデバイスの取得に失敗しました");
    }
    if (FAILED((*mouse)->SetDataFormat(&c_dfDIMouse))) {
        FailDevice(mouse, "マウスデバイスのデータ形式の設定に失敗しました");
    }
    if (FAILED((*mouse)->SetCooperativeLevel(GetAppWindowHandle(), DISCL_NONEXCLUSIVE | DISCL_BACKGROUND))) {
        FailDevice(mouse, "マウスデバイスの協調レベルの設定に失敗しました");
    }
    AddLog("初期化成功\n");
    g_InputState.keyboardReadTime = GetNowMilliCount();
}

static void SetKeyboardBufferSize(IDirectInputDevice7A *keyboard)
{
    DIPROPDWORD property;
    property.diph.dwSize = sizeof(property);
    property.diph.dwHeaderSize = sizeof(property.diph);
    property.diph.dwObj = 0;
    property.diph.dwHow = DIPH_DEVICE;
    property.dwData = 100;
    if (FAILED(keyboard->SetProperty(DIPROP_BUFFERSIZE, &property.diph))) {
        AddLog("キーボードのプロパティ設定に失敗しました\n");
    }
}

static int SetupKeyboard(void)
{
    AddLog("キーボードデバイスの初期化... ");
    IDirectInputDevice7A **keyboard = &g_InputState.keyboard;
    if (FAILED(CreateInputDevice(GUID_SysKeyboard, keyboard))) {
        FailDevice(keyboard, "キーボードデバイスの取得に失敗しました");
    }
    if (FAILED((*keyboard)->SetDataFormat(&c_dfDIKeyboard))) {
        FailDevice(keyboard, "キーボードデバイスのデータ形式の設定に失敗しました");
    }
    if (FAILED((*keyboard)->SetCooperativeLevel(GetAppWindowHandle(), DISCL_NONEXCLUSIVE | DISCL_BACKGROUND))) {
        FailDevice(keyboard, "キーボードデバイスの協調レベルの設定に失敗しました");
    }
    SetKeyboardBufferSize(*keyboard);
    g_InputState.keyboardEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    HRESULT result = (*keyboard)->SetEventNotification(g_InputState.keyboardEvent);
    if (result != DI_OK && result != DI_POLLEDDEVICE) {
        AddLog("キーボードイベントのセットアップが失敗しました\n");
        return -1;
    }
    if (FAILED((*keyboard)->Acquire()) && FAILED((*keyboard)->Acquire())) {
        FailDevice(keyboard, "キーボードデバイスの取得に失敗しました");
    }
    AddLog("初期化成功\n");
    g_InputState.keyboardReadTime = GetNowMilliCount();
    return 0;
}

static int StartDirectInputDevices(void)
{
    LogIndentDecrease();
    BringWindowToTop(GetAppWindowHandle());
    ProcessMessageCore();
    SetupJoypads();
    SetupMouse();
    if (!g_InputState.settings.keyboardOff && SetupKeyboard() != 0) {
        return -1;
    }
    LogIndentDecrease();
    AddLog("DirectInput 関連の初期化は正常に終了しました\n");
    return 0;
}

// Without DirectInput: the winmm joysticks are counted for the log, then all 16 ids are polled.
static void StartWithoutDirectInput(void)
{
    typedef MMRESULT(WINAPI * JoyGetDevCapsFunction)(UINT_PTR, JOYCAPSA *, UINT);
    JoyGetDevCapsFunction getCaps =
        (JoyGetDevCapsFunction)(void (*)(void))GetBoundEntry(BOUND_WINMM, WINMM_JOY_GET_DEV_CAPS);
    LogIndentIncrease();
    int count = 0;
    JOYCAPSA caps;
    while (getCaps != NULL && count < PAD_LIMIT && getCaps(count, &caps, sizeof(caps)) == JOYERR_NOERROR) {
        g_InputState.pads[count].hasZAndR = (caps.wCaps & JOYCAPS_HASZ) && (caps.wCaps & JOYCAPS_HASR);
        count++;
    }
    LogFormatLine("パッドの数は %d 個です", count);
    LogIndentDecrease();
    g_InputState.directInput = NO_DIRECTINPUT_OBJECT;
    AddLog("入力関連の初期化をしました\n");
    g_InputState.padCount = PAD_LIMIT;
}

// A failed keyboard notification leaves what was made released and input unstarted.
static int FailInputStart(void)
{
    TerminateInput();
    g_InputState.initialising = 0;
    return -1;
}

int InitializeInput(void)
{
    if (g_InputState.directInput != NULL || g_InputState.initialising) {
        return 0;
    }
    InputSettings settings = g_InputState.settings;
    MemFill(&g_InputState, 0, sizeof(g_InputState));
    g_InputState.settings = settings;
    g_InputState.initialising = 1;

    if (g_InputState.settings.noDirectInput || CreateDirectInputObject() != 0) {
        StartWithoutDirectInput();
    } else if (StartDirectInputDevices() != 0) {
        return FailInputStart();
    }
    if (!g_InputState.settings.keyMapBuilt) {
        BuildDefaultKeyMap();
    }
    g_InputState.initialising = 0;
    return 0;
}

int TerminateInput(void)
{
    if (g_InputState.directInput == NULL) {
        return 0;
    }
    if (g_InputState.directInput == NO_DIRECTINPUT_OBJECT) {
        AddLog("入力関連の終了処理... 完了\n");
        g_InputState.directInput = NULL;
        return 0;
    }
    AddLog("DirectInput 関連の終了処理... 完了\n");
    ReleaseJoypads();
    ReleaseInputDevice(&g_InputState.keyboard);
    if (g_InputState.keyboardEvent != NULL) {
        CloseHandle(g_InputState.keyboardEvent);
        g_InputState.keyboardEvent = NULL;
    }
    ReleaseInputDevice(&g_InputState.mouse);
    g_InputState.directInput->Release();
    g_InputState.directInput = NULL;
    return 0;
}

int ReacquireInputDevices(void)
{
    if (!HasDirectInput()) {
        return 0;
    }
    DWORD level = IsWindowActive() ? (DISCL_EXCLUSIVE | DISCL_FOREGROUND) : (DISCL_NONEXCLUSIVE | DISCL_BACKGROUND);
    for (int i = 0; i < g_InputState.padCount; i++) {
        IDirectInputDevice7A *device = g_InputState.pads[i].device;
        if (device != NULL) {
            device->Unacquire();
            device->SetCooperativeLevel(GetAppWindowHandle(), level);
            device->Acquire();
        }
    }
    if (g_InputState.keyboard != NULL) {
        g_InputState.keyboard->Unacquire();
        g_InputState.keyboard->Acquire();
    }
    return 0;
}
