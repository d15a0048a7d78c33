// DirectInput joypads: enumeration of up to 16 attached game controllers, their axis ranges, dead zones and the
// two force-feedback effects each, and their release. Window thread only.
#include "input/input_internal.h"

#define AXIS_RANGE 1000
#define AXIS_DEAD_ZONE 3500
#define EFFECT_GAIN 10000

typedef int (*AxisSetter)(IDirectInputDevice7A *device, DWORD offset);

static DIPROPHEADER AxisPropertyHeader(DWORD size, DWORD offset)
{
    DIPROPHEADER header = {size, sizeof(DIPROPHEADER), offset, DIPH_BYOFFSET};
    return header;
}

static int SetAxisRange(IDirectInputDevice7A *device, DWORD offset)
{
    DIPROPRANGE range = {AxisPropertyHeader(sizeof(DIPROPRANGE), offset), -AXIS_RANGE, AXIS_RANGE};
    return SUCCEEDED(device->SetProperty(DIPROP_RANGE, &range.diph)) ? 0 : -1;
}

static int SetAxisDeadZone(IDirectInputDevice7A *device, DWORD offset)
{
    DIPROPDWORD deadZone = {AxisPropertyHeader(sizeof(DIPROPDWORD), offset), AXIS_DEAD_ZONE};
    return SUCCEEDED(device->SetProperty(DIPROP_DEADZONE, &deadZone.diph)) ? 0 : -1;
}

// X and Y must take the setting (else the device is skipped with the message); the other axes may refuse it.
static int SetAxes(IDirectInputDevice7A *device, AxisSetter set, const char *xMessage, const char *yMessage)
{
    if (set(device, DIJOFS_X) != 0) {
        AddLog(xMessage);
        return -1;
    }
    if (set(device, DIJOFS_Y) != 0) {
        AddLog(yMessage);
        return -1;
    }
    static const DWORD otherAxes[] = {DIJOFS_Z, DIJOFS_RX, DIJOFS_RY, DIJOFS_RZ};
    for (DWORD offset : otherAxes) {
        set(device, offset);
    }
    return 0;
}

static void CreateEffects(JoypadRecord *pad)
{
    DWORD axes[2] = {DIJOFS_X, DIJOFS_Y};
    LONG directions[2] = {0, 0};
    DIPERIODIC periodic = {EFFECT_GAIN, 0, 0, 1500000};
    DIENVELOPE envelope = {sizeof(DIENVELOPE), 0, 500000, 0, 1000000};
    DIEFFECT effect;
    MemFill(&effect, 0, sizeof(effect));
    effect.dwSize = sizeof(effect);
    effect.dwFlags = DIEFF_POLAR | DIEFF_OBJECTOFFSETS;
    effect.dwDuration = INFINITE;
    effect.dwGain = EFFECT_GAIN;
    effect.dwTriggerButton = DIEB_NOTRIGGER;
    effect.cAxes = 2;
    effect.rgdwAxes = axes;
    effect.rglDirection = directions;
    effect.lpEnvelope = &envelope;
    effect.cbTypeSpecificParams = sizeof(periodic);
    effect.lpvTypeSpecificParams = &periodic;
    if (FAILED(pad->device->CreateEffect(GUID_Sine, &effect, &pad->sineEffect, NULL))) {
        pad->sineEffect = NULL;
    }
    DICONSTANTFORCE constant = {EFFECT_GAIN};
    effect.dwFlags = DIEFF_CARTESIAN | DIEFF_OBJECTOFFSETS;
    effect.lpEnvelope = NULL;
    effect.cbTypeSpecificParams = sizeof(constant);
    effect.lpvTypeSpecificParams = &constant;
    if (FAILED(pad->device->CreateEffect(GUID_ConstantForce, &effect, &pad->constantEffect, NULL))) {
        pad->constantEffect = NULL;
        AddLog("周期的エフェクトの作成に失敗しました。\n");
    }
}

static void LogDeviceNames(JoypadRecord *pad)
{
    DIDEVICEINSTANCEA info;
    MemFill(&info, 0, sizeof(info));
    info.dwSize = sizeof(info);
    pad->device->GetDeviceInfo(&info);
    lstrcpynA(pad->instanceName, info.tszInstanceName, DEVICE_NAME_SIZE);
    lstrcpynA(pad->productName, info.tszProductName, DEVICE_NAME_SIZE);
    LogIndentIncrease();
    LogFormatLine("デバイスの登録名:%s", pad->instanceName);
    LogFormatLine("デバイスの製品登録名:%s", pad->productName);
    LogIndentDecrease();
}

static void ReleaseEffect(IDirectInputEffect **effect)
{
    if (*effect != NULL) {
        (*effect)->Stop();
        (*effect)->Release();
        *effect = NULL;
    }
}

static void ReleaseJoypadRecord(JoypadRecord *pad)
{
    if (pad->device != NULL) {
        pad->device->Unacquire();
        pad->device->SetEventNotification(NULL);
    }
    ReleaseEffect(&pad->constantEffect);
    ReleaseEffect(&pad->sineEffect);
    ReleaseInputDevice(&pad->device);
    if (pad->event != NULL) {
        CloseHandle(pad->event);
    }
    MemFill(pad, 0, sizeof(*pad));
}

// Fills the record at the pad count; 0 when the device was kept, -1 when it was skipped (and released).
static int AddJoypad(const DIDEVICEINSTANCEA *instance)
{
    JoypadRecord *pad = &g_InputState.pads[g_InputState.padCount];
    MemFill(pad, 0, sizeof(*pad));
    if (FAILED(CreateInputDevice(instance->guidInstance, &pad->device))) {
        AddLog("入力装置の取得に失敗しました\n");
        return -1;
    }
    LogDeviceNames(pad);
    if (FAILED(pad->device->SetDataFormat(&c_dfDIJoystick))) {
        AddLog("ジョイパッドデバイスではありませんでした、又は設定に失敗しました\n");
        return -1;
    }
    if (FAILED(pad->device->SetCooperativeLevel(GetAppWindowHandle(), DISCL_EXCLUSIVE | DISCL_FOREGROUND))) {
        AddLog("ジョイパッドデバイスの協調レベルの設定に失敗しました\n");
    }
    if (SetAxes(pad->device, SetAxisRange, "ジョイパッドデバイスのＸ軸関係の設定に失敗しました\n",
                "ジョイパッドデバイスのＹ軸関係の設定に失敗しました\n") != 0 ||
        SetAxes(pad->device, SetAxisDeadZone, "ジョイパッドデバイスのＸ軸の無効ゾーンの設定に失敗しました\n",
                "ジョイパッドデバイスのＹ軸の無効ゾーンの設定に失敗しました\n") != 0) {
        return -1;
    }
    if (!g_InputState.settings.forceFeedbackOff) {
        CreateEffects(pad);
    }
    pad->vibrationPower = EFFECT_GAIN;
    pad->event = CreateEventA(NULL, TRUE, FALSE, NULL);
    HRESULT result = pad->device->SetEventNotification(pad->event);
    if (result != DI_OK && result != DI_POLLEDDEVICE) {
        AddLog("ジョイパッドイベントのセットアップが失敗しました\n");
        return -1;
    }
    pad->device->Acquire();
    g_InputState.padCount++;
    AddLog("ジョイパッドの追加は正常に終了しました\n");
    return 0;
}

static BOOL CALLBACK EnumJoypadCallback(const DIDEVICEINSTANCEA *instance, void *)
{
    AddLog("入力装置を見つけました\n");
    if (AddJoypad(instance) != 0) {
        ReleaseJoypadRecord(&g_InputState.pads[g_InputState.padCount]); // a skipped pad, with what it had made
    }
    return g_InputState.padCount < PAD_LIMIT ? DIENUM_CONTINUE : DIENUM_STOP;
}

int SetupJoypads(void)
{
    if (!HasDirectInput()) {
        return -1;
    }
    ReleaseJoypads();
    AddLog("ジョイパッドの初期化... ");
    g_InputState.padCount = 0;
    DirectInputObject()->EnumDevices(DIDEVTYPE_JOYSTICK, EnumJoypadCallback, NULL, DIEDFL_ATTACHEDONLY);
    AddLog("ジョイパッドの初期化は正常に終了しました\n");
    return 0;
}

int ReleaseJoypads(void)
{
    if (!HasDirectInput()) {
        return -1;
    }
    for (int i = 0; i < g_InputState.padCount; i++) {
        ReleaseJoypadRecord(&g_InputState.pads[i]);
    }
    g_InputState.padCount = 0;
    return 0;
}
