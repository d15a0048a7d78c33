// Sound start-up and end: the process-wide sound state (the DirectSound object, its primary buffer, a silence
// buffer that loops for the whole run, the sound lock, the run-time bound Audio Compression Manager entries, the
// stream and soft-player lists, the refill thread and the music mode). Without a working device the engine runs on
// and every sound call answers -1. Start-up and end run on the window thread; the end waits for the refill thread
// to be gone before the handles and the lock go.
#include "sound/sound_internal.h"

#include <dmusici.h>
#include <objbase.h>

#define SILENCE_BUFFER_BYTES 400
#define SILENCE_BUFFER_FLAGS 0x8002 // static, global focus
#define PRIMARY_RATE_LIMIT 44100
#define REFILL_STOP_PAUSE_MS 2
#define REFILL_THREAD_PATIENCE_MS 10000 // the thread sleeps 30 ms between passes: far longer means it hangs
#define DIRECT_MUSIC_CHANNELS 64
#define DIRECT_MUSIC_AUDIO_FLAGS 0x3F
#define CONTEXT_LOCAL_ANY 7 // in-process server and handler, local server
#define CONTEXT_IN_PROCESS 3

SoundState g_Sound;

// ---------------------------------------------------------------------------------------------------------------
// The Audio Compression Manager, bound by name: a missing entry stays null and the ACM converters decline.

template <typename Entry> static void BindAcmEntry(Entry *entry, const char *name)
{
    *entry = (Entry)(void (*)(void))GetProcAddress(g_Sound.acm.module, name);
}

static void BindAcm(void)
{
    if (g_Sound.acm.module != NULL) {
        return;
    }
    g_Sound.acm.module = LoadLibraryA("msacm32.dll");
    if (g_Sound.acm.module == NULL) {
        return;
    }
    AcmEntries *acm = &g_Sound.acm;
    BindAcmEntry(&acm->formatSuggest, "acmFormatSuggest");
    BindAcmEntry(&acm->streamOpen, "acmStreamOpen");
    BindAcmEntry(&acm->streamClose, "acmStreamClose");
    BindAcmEntry(&acm->metrics, "acmMetrics");
    BindAcmEntry(&acm->streamPrepareHeader, "acmStreamPrepareHeader");
    BindAcmEntry(&acm->streamConvert, "acmStreamConvert");
    BindAcmEntry(&acm->streamUnprepareHeader, "acmStreamUnprepareHeader");
    BindAcmEntry(&acm->streamSize, "acmStreamSize");
}

static void UnbindAcm(void)
{
    if (g_Sound.acm.module != NULL) {
        FreeLibrary(g_Sound.acm.module);
    }
    MemFill(&g_Sound.acm, 0, sizeof(g_Sound.acm));
}

// ---------------------------------------------------------------------------------------------------------------
// Releasing what start-up made, shared by the end and by a start-up that fails half-way.

template <typename Object> static void ReleaseObject(Object **object)
{
    if (*object != NULL) {
        (*object)->Release();
        *object = NULL;
    }
}

static void StopAndRelease(IDirectSoundBuffer **buffer)
{
    if (*buffer != NULL) {
        (*buffer)->Stop();
    }
    ReleaseObject(buffer);
}

static void ReleaseDirectMusic(void)
{
    IDirectMusicPerformance8 *performance = (IDirectMusicPerformance8 *)g_Sound.musicPerformance;
    if (performance != NULL) {
        performance->Stop(NULL, NULL, 0, 0);
        performance->CloseDown();
    }
    ReleaseObject(&g_Sound.musicPerformance);
    ReleaseObject(&g_Sound.musicLoader);
    ReleaseObject(&g_Sound.directMusic);
}

static void ReleaseDeviceObjects(void)
{
    ReleaseDirectMusic();
    StopAndRelease(&g_Sound.primaryBuffer);
    StopAndRelease(&g_Sound.silenceBuffer);
    ReleaseObject(&g_Sound.spareBuffer);
    ReleaseObject(&g_Sound.directSound);
}

// A start-up that cannot go on leaves nothing behind: no objects, no lock, no ACM module.
static int FailStart(const char *message)
{
    if (message != NULL) {
        AddLog(message);
    }
    ReleaseDeviceObjects();
    if (g_Sound.lockMade) {
        DeleteCriticalSection(&g_Sound.lock);
        g_Sound.lockMade = 0;
    }
    UnbindAcm();
    return -1;
}

// ---------------------------------------------------------------------------------------------------------------
// Mode 0: DirectSound with its primary buffer.

static void SetPrimaryFormat(void)
{
    DSCAPS caps;
    MemFill(&caps, 0, sizeof(caps));
    caps.dwSize = sizeof(caps);
    g_Sound.directSound->GetCaps(&caps);
    WAVEFORMATEX format;
    MemFill(&format, 0, sizeof(format));
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = (caps.dwFlags & DSCAPS_PRIMARYSTEREO) ? 2 : 1;
    format.wBitsPerSample = (caps.dwFlags & DSCAPS_PRIMARY16BIT) ? 16 : 8;
    format.nSamplesPerSec =
        caps.dwMaxSecondarySampleRate < PRIMARY_RATE_LIMIT ? caps.dwMaxSecondarySampleRate : PRIMARY_RATE_LIMIT;
    format.nBlockAlign = (WORD)(format.wBitsPerSample / 8 * format.nChannels);
    format.nAvgBytesPerSec = format.nBlockAlign * format.nSamplesPerSec;
    if (FAILED(g_Sound.primaryBuffer->SetFormat(&format))) {
        AddLog("DirectSoundのプライマリサウンドバッファのフォーマット設定に失敗しました\n");
    }
}

static int StartDirectSound(void)
{
    AddLog("DirectSound の初期化を行います\n");
    AddLog("DirectSound インターフェースの取得を行います....  ");
    if (FAILED(CoCreateInstance(CLSID_DirectSound, NULL, CONTEXT_LOCAL_ANY, IID_IDirectSound,
                                (void **)&g_Sound.directSound))) {
        g_Sound.directSound = NULL;
        return FailStart("DirectSoundインターフェースの作成に失敗しました\n");
    }
    AddLog("成功\n");
    AddLog("引き続きインターフェースの初期化処理...  ");
    HRESULT result = g_Sound.directSound->Initialize(NULL);
    if (FAILED(result)) {
        AddLog("初期化に失敗しました\n");
        LogFormatLine("エラーコード %x", (unsigned int)result);
        return FailStart(NULL);
    }
    AddLog("成功\n");
    if (FAILED(g_Sound.directSound->SetCooperativeLevel(GetDesktopWindow(), DSSCL_PRIORITY))) {
        return FailStart("DirectSoundの協調レベルの設定に失敗しました\n");
    }
    DSBUFFERDESC description;
    MemFill(&description, 0, sizeof(description));
    description.dwSize = sizeof(description);
    description.dwFlags = DSBCAPS_PRIMARYBUFFER | (g_Sound.softwareBuffers ? DSBCAPS_LOCSOFTWARE : 0);
    if (FAILED(g_Sound.directSound->CreateSoundBuffer(&description, &g_Sound.primaryBuffer, NULL))) {
        g_Sound.primaryBuffer = NULL;
        return FailStart("DirectSoundのプライマリサウンドバッファの作成に失敗しました\n");
    }
    SetPrimaryFormat();
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Mode 1: DirectSound made by DirectMusic, which also plays MIDI music. Nothing in the program selects it.

static void LogDirectMusicPorts(IDirectMusic8 *directMusic)
{
    DMUS_PORTCAPS caps;
    for (DWORD index = 0;; index++) {
        MemFill(&caps, 0, sizeof(caps));
        caps.dwSize = sizeof(caps);
        if (directMusic->EnumPort(index, &caps) != S_OK) {
            break;
        }
        char description[DMUS_MAX_DESCRIPTION * 2];
        WideCharToMultiByte(CP_ACP, 0, caps.wszDescription, -1, description, sizeof(description), NULL, NULL);
        LogFormatLine("%s  Device%d:%s ", caps.dwClass == DMUS_PC_OUTPUTCLASS ? "出力ポート" : "入力ポート", (int)index,
                      description);
    }
}

// 1: the loader could not be made, start-up goes on in mode 0; -1: sound stays off.
static int StartDirectMusic(void)
{
    AddLog("DirectSound8 の初期化を行います\n");
    if (FAILED(CoCreateInstance(CLSID_DirectMusicLoader, NULL, CONTEXT_IN_PROCESS, IID_IDirectMusicLoader8,
                                (void **)&g_Sound.musicLoader))) {
        g_Sound.musicLoader = NULL;
        AddLog("DirectMusicLoader8 オブジェクトの作成に失敗しました\n");
        AddLog("前バージョンでの初期化処理に移ります\n");
        return 1;
    }
    if (FAILED(CoCreateInstance(CLSID_DirectMusicPerformance, NULL, CONTEXT_IN_PROCESS, IID_IDirectMusicPerformance8,
                                (void **)&g_Sound.musicPerformance))) {
        g_Sound.musicPerformance = NULL;
        return FailStart("DirectMusicPerformance オブジェクトの作成に失敗しました\n");
    }
    if (FAILED(CoCreateInstance(CLSID_DirectMusic, NULL, CONTEXT_IN_PROCESS, IID_IDirectMusic,
                                (void **)&g_Sound.directMusic))) {
        g_Sound.directMusic = NULL;
        return FailStart("DirectMusic オブジェクトの取得に失敗しました\n");
    }
    IDirectMusic8 *directMusic8 = NULL;
    if (FAILED(g_Sound.directMusic->QueryInterface(IID_IDirectMusic8, (void **)&directMusic8))) {
        return FailStart("DirectMusic8 オブジェクトの取得に失敗しました\n");
    }
    LogDirectMusicPorts(directMusic8);
    directMusic8->Release();
    ReleaseObject(&g_Sound.directMusic);

    IDirectMusicPerformance8 *performance = (IDirectMusicPerformance8 *)g_Sound.musicPerformance;
    DMUS_AUDIOPARAMS parameters;
    MemFill(&parameters, 0, sizeof(parameters));
    parameters.dwSize = sizeof(parameters);
    if (FAILED(performance->InitAudio(NULL, &g_Sound.directSound, NULL, DMUS_APATH_SHARED_STEREOPLUSREVERB,
                                      DIRECT_MUSIC_CHANNELS, DIRECT_MUSIC_AUDIO_FLAGS, &parameters))) {
        g_Sound.directSound = NULL;
        return FailStart("DirectMusicPerformanceオブジェクトの初期化に失敗しました\n");
    }
    BOOL autoDownload = TRUE;
    performance->SetGlobalParam(GUID_PerfAutoDownload, &autoDownload, sizeof(autoDownload));
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Both modes.

// A short silent buffer that loops for the whole run keeps the device's output open between sounds.
static void StartSilenceBuffer(void)
{
    WAVEFORMATEX format;
    MemFill(&format, 0, sizeof(format));
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = 44100;
    format.wBitsPerSample = 16;
    format.nBlockAlign = 4;
    format.nAvgBytesPerSec = 176400;
    DSBUFFERDESC description;
    MemFill(&description, 0, sizeof(description));
    description.dwSize = sizeof(description);
    description.dwFlags =
        g_Sound.softwareBuffers ? (SILENCE_BUFFER_FLAGS & ~DSBCAPS_STATIC) | DSBCAPS_LOCSOFTWARE : SILENCE_BUFFER_FLAGS;
    description.dwBufferBytes = SILENCE_BUFFER_BYTES;
    description.lpwfxFormat = &format;
    if (FAILED(g_Sound.directSound->CreateSoundBuffer(&description, &g_Sound.silenceBuffer, NULL))) {
        g_Sound.silenceBuffer = NULL;
        AddLog("無音バッファの作成に失敗しました\n");
        return;
    }
    void *region1 = NULL, *region2 = NULL;
    DWORD size1 = 0, size2 = 0;
    if (FAILED(g_Sound.silenceBuffer->Lock(0, SILENCE_BUFFER_BYTES, &region1, &size1, &region2, &size2, 0))) {
        AddLog("無音バッファのロックに失敗しました\n");
        ReleaseObject(&g_Sound.silenceBuffer);
        return;
    }
    MemFill(region1, 0, size1);
    if (region2 != NULL) {
        MemFill(region2, 0, size2);
    }
    g_Sound.silenceBuffer->Unlock(region1, size1, region2, size2);
    g_Sound.silenceBuffer->Play(0, 0, DSBPLAY_LOOPING);
}

static BOOL CALLBACK LogSoundDeviceCallback(LPGUID guid, LPCSTR description, LPCSTR module, LPVOID context)
{
    (void)guid;
    (void)context;
    LogFormatLine("モジュール名:%15s  ドライバ記述:%s ", module, description);
    return TRUE;
}

static const char *OkOrNo(DWORD flags, DWORD flag)
{
    return (flags & flag) ? "OK" : "NO";
}

static void LogDeviceCaps(const DSCAPS *caps)
{
    LogFormatLine("最大サンプリングレート:%.2fKHz 最小サンプリングレート:%.2fKHz ",
                  caps->dwMaxSecondarySampleRate / 1000.0, caps->dwMinSecondarySampleRate / 1000.0);
    LogFormatLine("総サウンドメモリ領域:%.2fKB 空きサウンドメモリ領域:%.2fKB ", caps->dwTotalHwMemBytes / 1024.0,
                  caps->dwFreeHwMemBytes / 1024.0);
    DWORD f = caps->dwFlags;
    AddLog("利用可能サンプリング精度\n");
    LogFormatLine(" プライマリ １６bit = %s  ８bit = %s ", OkOrNo(f, DSCAPS_PRIMARY16BIT),
                  OkOrNo(f, DSCAPS_PRIMARY8BIT));
    LogFormatLine(" セカンダリ １６bit = %s  ８bit = %s ", OkOrNo(f, DSCAPS_SECONDARY16BIT),
                  OkOrNo(f, DSCAPS_SECONDARY8BIT));
    AddLog("利用可能チャンネル\n");
    LogFormatLine(" プライマリ MONO = %s  STEREO = %s ", OkOrNo(f, DSCAPS_PRIMARYMONO),
                  OkOrNo(f, DSCAPS_PRIMARYSTEREO));
    LogFormatLine(" セカンダリ MONO = %s  STEREO = %s ", OkOrNo(f, DSCAPS_SECONDARYMONO),
                  OkOrNo(f, DSCAPS_SECONDARYSTEREO));
}

// The device block of the log, two levels in; every way out leaves the indent where it found it.
static void LogSoundDevice(void)
{
    LogIndentIncrease();
    DSCAPS caps;
    MemFill(&caps, 0, sizeof(caps));
    caps.dwSize = sizeof(caps);
    g_Sound.directSound->GetCaps(&caps);
    AddLog("DirectSound デバイスを列挙します\n");
    LogIndentIncrease();
    HMODULE library = LoadLibraryA("DSOUND.DLL");
    typedef HRESULT(WINAPI * EnumerateFunction)(LPDSENUMCALLBACKA, LPVOID);
    EnumerateFunction enumerate =
        library != NULL ? (EnumerateFunction)(void (*)(void))GetProcAddress(library, "DirectSoundEnumerateA") : NULL;
    if (library == NULL) {
        AddLog("DSOUND.DLL のロードに失敗しました\n");
    } else if (enumerate == NULL) {
        FreeLibrary(library);
        library = NULL;
        AddLog("DirectSound デバイスの列挙用関数のポインタ取得に失敗しました\n");
    } else {
        enumerate(LogSoundDeviceCallback, NULL);
    }
    LogIndentDecrease();
    if (library != NULL) {
        LogDeviceCaps(&caps);
    }
    LogIndentDecrease();
    if (library != NULL) {
        FreeLibrary(library);
    }
}

// With more than one processor the refill runs on its own time-critical thread; else the message pump refills.
static void StartRefillThread(void)
{
    if (g_SystemInformation.processorCount < 2) {
        return;
    }
    InterlockedExchange(&g_Sound.refillStop, 0);
    g_Sound.refillThread = CreateThread(NULL, 0, StreamRefillThread, NULL, CREATE_SUSPENDED, &g_Sound.refillThreadId);
    if (g_Sound.refillThread != NULL) {
        SetThreadPriority(g_Sound.refillThread, THREAD_PRIORITY_TIME_CRITICAL);
        ResumeThread(g_Sound.refillThread);
    }
}

int InitSoundSystem(void)
{
    if (g_Sound.directSound != NULL) {
        return -1;
    }
    InitializeCriticalSection(&g_Sound.lock);
    g_Sound.lockMade = 1;
    BindAcm();
    int started = -1;
    if (g_Sound.musicMode == 1) {
        started = StartDirectMusic();
        if (started == 1) {
            g_Sound.musicMode = 0;
        }
    }
    if (g_Sound.musicMode == 0) {
        started = StartDirectSound();
    }
    if (started != 0) {
        return -1;
    }
    StartSilenceBuffer();
    g_Sound.createAsStream = 0;
    g_Sound.oggWordSize = 2;
    ListInit(&g_Sound.streamHead, &g_Sound.streamTail);
    ListInit(&g_Sound.softPlayerHead, &g_Sound.softPlayerTail);
    LogSoundDevice();
    DeleteAllSoundHandles(0);
    DeleteAllSoftSounds();
    DeleteAllSoftSoundPlayers();
    StartRefillThread();
    AddLog("DirectSound の初期化は正常に終了しました\n");
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// End.

// The stop handshake runs while the pump goes on (a pass that answers -1 ends it early, as on a closed window);
// then the thread itself is waited for, so that nothing it might still touch goes before it has ended.
static void StopRefillThread(void)
{
    if (g_Sound.refillThread == NULL) {
        return;
    }
    InterlockedExchange(&g_Sound.refillStop, 1);
    while (ProcessMessageCore() == 0 && g_Sound.refillStop == 1) {
        Sleep(REFILL_STOP_PAUSE_MS);
    }
    if (WaitForSingleObject(g_Sound.refillThread, REFILL_THREAD_PATIENCE_MS) != WAIT_OBJECT_0) {
        AddLog("ストリームサウンド処理用スレッドが終了しないため強制終了します\n");
        TerminateThread(g_Sound.refillThread, 0);
    }
    CloseHandle(g_Sound.refillThread);
    g_Sound.refillThread = NULL;
    g_Sound.refillThreadId = 0;
}

int TerminateSoundSystem(void)
{
    if (g_Sound.directSound == NULL) {
        return -1;
    }
    StopRefillThread();
    CloseCaptureFile();
    DeleteAllSoundHandles(0);
    DeleteAllSoftSounds();
    DeleteAllSoftSoundPlayers();
    DeleteAllMusicMem();
    DeleteTemporaryMidiFile();
    DeleteCriticalSection(&g_Sound.lock);
    g_Sound.lockMade = 0;
    ReleaseDeviceObjects();
    UnbindAcm();
    AddLog("DirectSound の終了処理は正常に終了しました\n");
    return 0;
}
