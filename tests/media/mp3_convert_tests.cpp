// MP3 to PCM through the media graph, with the engine started (the conversion pumps its window). Tones that the
// build machine wrote (sox, lame) convert to the format and PCM that the platform's own grabber chain catches from
// the same file, and to lame's decode within a two-frame lag at 60 dB; the 60 s tone outgrows its first buffer.
// Each failure answers -1 in bounded time logging only its step's message, and leaves tracked blocks, media objects,
// task memory and threads where they were, as do twenty conversions in a row.
#include "graph_test_support.h"
#include "mp3_reference_chain.h"

#include "graphics/log_reading.h"
#include "media/media_test_hooks.h"
#include "media/media_transform.h"
#include "sound/sound_test_engine.h"
#include "file/file.h"

#include <gtest/gtest.h>
#include <random>
#include <set>
#include <tlhelp32.h>

namespace
{

// Task blocks the library allocated through its bound entry and nobody freed yet. The platform frees some of ours
// itself, so frees are seen through a malloc spy on the whole process, and allocations through the entry.
std::set<void *> s_TaskBlocks;
CRITICAL_SECTION s_TaskBlockLock;

LPVOID WINAPI TrackingTaskMemAlloc(SIZE_T size)
{
    void *block = CoTaskMemAlloc(size);
    EnterCriticalSection(&s_TaskBlockLock);
    if (block != NULL) {
        s_TaskBlocks.insert(block);
    }
    LeaveCriticalSection(&s_TaskBlockLock);
    return block;
}

class FreeSpy : public IMallocSpy
{
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void **out) override
    {
        *out = id == IID_IUnknown || id == IID_IMallocSpy ? this : NULL;
        return *out != NULL ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override
    {
        return 2;
    }
    ULONG STDMETHODCALLTYPE Release() override
    {
        return 1;
    }
    SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T size) override
    {
        return size;
    }
    void *STDMETHODCALLTYPE PostAlloc(void *block) override
    {
        return block;
    }
    void *STDMETHODCALLTYPE PreFree(void *block, BOOL) override
    {
        EnterCriticalSection(&s_TaskBlockLock);
        s_TaskBlocks.erase(block);
        LeaveCriticalSection(&s_TaskBlockLock);
        return block;
    }
    void STDMETHODCALLTYPE PostFree(BOOL) override
    {
    }
    SIZE_T STDMETHODCALLTYPE PreRealloc(void *block, SIZE_T size, void **newBlock, BOOL) override
    {
        *newBlock = block;
        return size;
    }
    void *STDMETHODCALLTYPE PostRealloc(void *block, BOOL) override
    {
        return block;
    }
    void *STDMETHODCALLTYPE PreGetSize(void *block, BOOL) override
    {
        return block;
    }
    SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T size, BOOL) override
    {
        return size;
    }
    void *STDMETHODCALLTYPE PreDidAlloc(void *block, BOOL) override
    {
        return block;
    }
    int STDMETHODCALLTYPE PostDidAlloc(void *, BOOL, int actual) override
    {
        return actual;
    }
    void STDMETHODCALLTYPE PreHeapMinimize() override
    {
    }
    void STDMETHODCALLTYPE PostHeapMinimize() override
    {
    }
} s_FreeSpy;

LONG CountTaskBlocks()
{
    EnterCriticalSection(&s_TaskBlockLock);
    LONG count = (LONG)s_TaskBlocks.size();
    LeaveCriticalSection(&s_TaskBlockLock);
    return count;
}

int CountThreads()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        count += entry.th32OwnerProcessID == GetCurrentProcessId();
    }
    CloseHandle(snapshot);
    return count;
}

struct Resources {
    int blocks;
    LONG objects, taskBlocks;
    int threads;
    bool operator==(const Resources &other) const
    {
        return blocks == other.blocks && objects == other.objects && taskBlocks == other.taskBlocks &&
               threads == other.threads;
    }
};

Resources TakeResources()
{
    return {GetAllocationCount(), MediaObjectCount, CountTaskBlocks(), CountThreads()};
}

// Threads of a released graph end on their own: wait generously for the counts to come back.
void ExpectResourcesBack(const Resources &before)
{
    Resources now = TakeResources();
    for (int waited = 0; !(now == before) && waited < 100; waited++) {
        Sleep(100);
        now = TakeResources();
    }
    EXPECT_EQ(now.blocks, before.blocks);
    EXPECT_EQ(now.objects, before.objects);
    EXPECT_EQ(now.taskBlocks, before.taskBlocks);
    EXPECT_EQ(now.threads, before.threads);
}

int Convert(const Bytes &mp3, SoundConverter *converter)
{
    StreamRef stream;
    OpenMemoryStreamRef(mp3.data(), (unsigned int)mp3.size(), &stream);
    memset(converter, 0, sizeof(*converter));
    converter->source = stream;
    converter->kind = -1;
    int result = ConvertMp3ToPcm(converter);
    stream.functions.close(stream.handle);
    return result;
}

const char *const kStepMessages[] = {
    "MP3変換用 R_CMemStream の作成に失敗しました",
    "MP3変換用 R_CMemReader の作成に失敗しました",
    "MP3変換用 NullRender の作成に失敗しました",
    "MP3変換用 IGraphBuilder の作成に失敗しました",
    "MP3変換用 R_CSampleGrabber の作成に失敗しました",
    "サンプルグラバフィルタのメディアタイプの設定に失敗しました",
    "サンプルグラバフィルタのグラフへの追加に失敗しました",
    "メモリファイルフィルタのグラフへの追加に失敗しました",
    "グラフの構築に失敗しました",
    "ヌルレンダラーフィルタのグラフへの追加に失敗しました",
    "既存レンダラーをNullレンダラーと交換する処理が失敗しました",
    "音声が含まれていないか、オーディオフォーマットの取得に失敗しました。",
    "サポート外のストリームフォーマットです。",
    "サポート外のオーディオフォーマットです。",
    "コールバック関数を設定できません",
    "PCMデータを格納するメモリ領域の確保に失敗しました",
    "IMediaFilter の取得に失敗しました",
    "IMediaControl の取得に失敗しました",
    "IMediaEvent の取得に失敗しました",
    "MP3変換の途中でソフトが終了しました",
    "MP3変換の途中でエラーが発生しました",
    "PCMデータを格納するメモリ領域の再確保に失敗しました",
};

std::vector<std::string> StepMessagesIn(const std::string &log)
{
    std::vector<std::string> found;
    for (const char *message : kStepMessages) {
        if (log.find(message) != std::string::npos) {
            found.push_back(message);
        }
    }
    return found;
}

std::string LoggedStepMessages()
{
    std::string joined;
    for (const std::string &message : StepMessagesIn(ReadLogText())) {
        joined += " " + message;
    }
    return joined;
}

class Mp3Conversion : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        graph_test::BindOle(OLE_CO_TASK_MEM_ALLOC, graph_test::AsEntry(TrackingTaskMemAlloc));
        // The spy stays for the program: it cannot be revoked while blocks it saw are alive.
        static const bool spying =
            (InitializeCriticalSection(&s_TaskBlockLock), CoRegisterMallocSpy(&s_FreeSpy) == S_OK);
        ASSERT_TRUE(spying);
        ASSERT_EQ(StartSoundTestEngine("QvMp3Convert"), 0);
    }
    void TearDown() override
    {
        SetMp3ConversionHooksForTest(NULL);
        EndEngine();
        graph_test::BindOle(OLE_CO_TASK_MEM_ALLOC, NULL);
        EXPECT_EQ(GetAllocationCount(), 0);
    }
    // One conversion first, so that what the platform keeps from its first graph is in the baseline.
    Resources WarmedUpResources()
    {
        SoundConverter converter;
        EXPECT_EQ(Convert(ReadWholeFile(FixturePath("m8_2s", ".mp3")), &converter), 0);
        FreeMemory(converter.memory.block);
        return TakeResources();
    }
};

TEST_F(Mp3Conversion, TonesMatchThePlatformChainAndLame)
{
    for (const Mp3Tone &tone : kMp3Tones) {
        SCOPED_TRACE(tone.name);
        Bytes mp3 = ReadWholeFile(FixturePath(tone.name, ".mp3"));
        DecodedPcm platform, lame;
        ASSERT_TRUE(DecodeWithPlatformChain(FixturePath(tone.name, ".mp3"), &platform));
        ASSERT_TRUE(ReadWaveFile(FixturePath(tone.name, ".decoded.wav"), &lame));
        SoundConverter converter;
        ASSERT_EQ(Convert(mp3, &converter), 0) << LoggedStepMessages();
        Bytes pcm(converter.memory.block, converter.memory.block + converter.memory.size);
        const WORD blockAlign = (WORD)(2 * tone.channels);
        const WAVEFORMATEX expected = {
            WAVE_FORMAT_PCM, (WORD)tone.channels, (DWORD)tone.rate, (DWORD)(blockAlign * tone.rate), blockAlign, 16, 0};
        EXPECT_EQ(converter.kind, CONVERTER_PCM_MEMORY);
        EXPECT_EQ(memcmp(&converter.format, &expected, sizeof(expected)), 0);
        EXPECT_EQ(converter.outputSize, expected.nAvgBytesPerSec);
        EXPECT_EQ(converter.memory.position, 0u);
        EXPECT_EQ(memcmp(&platform.format, &expected, sizeof(PCMWAVEFORMAT)), 0);
        EXPECT_TRUE(pcm == platform.pcm) << pcm.size() << " bytes against the platform's " << platform.pcm.size();
        Alignment aligned = AlignPcm(pcm, lame.pcm, tone.channels, 2 * kMp3FrameSamples);
        EXPECT_GE(aligned.decibels, 60.0) << "at lag " << aligned.lag;
        EXPECT_LE(llabs((long long)pcm.size() - (long long)lame.pcm.size()), 2LL * kMp3FrameSamples * blockAlign);
        // The stereo PCM outgrows ten times the MP3, in whole 1 MiB steps.
        if (tone.channels == 2) {
            EXPECT_GT(converter.memory.capacity, mp3.size() * 10);
            EXPECT_EQ((converter.memory.capacity - mp3.size() * 10) % 0x100000, 0u);
        }
        EXPECT_EQ(GetMp3ReaderReferencesAtDeleteForTest(), 1);
        FreeMemory(converter.memory.block);
    }
}

TEST_F(Mp3Conversion, TwentyInARowLeaveNothingBehind)
{
    Resources before = WarmedUpResources();
    Bytes mp3 = ReadWholeFile(FixturePath("s44_2s", ".mp3"));
    for (int run = 0; run < 20; run++) {
        SoundConverter converter;
        ASSERT_EQ(Convert(mp3, &converter), 0) << "run " << run << LoggedStepMessages();
        FreeMemory(converter.memory.block);
    }
    ExpectResourcesBack(before);
}

// The stream thread's hold as the platform's null renderer has it at EC_COMPLETE: a reference to the graph taken
// inside the grabber's end of stream (under its streaming lock) and dropped a while later, just before leaving it.
struct RendererHold {
    R_CSampleGrabber *grabber;
    IGraphBuilder *graph;
    HANDLE taken;
    ULONG referencesLeft;
} s_Hold;

DWORD WINAPI HoldLikeTheRenderer(LPVOID)
{
    R_CMediaLockScope streaming(s_Hold.grabber->StreamingLock());
    s_Hold.graph->AddRef();
    SetEvent(s_Hold.taken);
    Sleep(500);
    s_Hold.referencesLeft = s_Hold.graph->Release();
    return 0;
}

void HoldOnCompletion(R_CSampleGrabber *grabber, IGraphBuilder *graph)
{
    s_Hold = {grabber, graph, CreateEventA(NULL, FALSE, FALSE, NULL), 0};
    CloseHandle(CreateThread(NULL, 0, HoldLikeTheRenderer, NULL, 0, NULL));
    WaitForSingleObject(s_Hold.taken, INFINITE);
    CloseHandle(s_Hold.taken);
}

// The call's release of the graph waits for the stream thread to leave the end of stream, so it is the last one and
// the reader is deleted with only its own reference left.
TEST_F(Mp3Conversion, TheGraphsLastReleaseWaitsForTheEndOfStream)
{
    Resources before = WarmedUpResources();
    const Mp3ConversionHooks hooks = {0, NULL, NULL, 0, HoldOnCompletion};
    SetMp3ConversionHooksForTest(&hooks);
    SoundConverter converter;
    ASSERT_EQ(Convert(ReadWholeFile(FixturePath("s44_2s", ".mp3")), &converter), 0) << LoggedStepMessages();
    FreeMemory(converter.memory.block);
    EXPECT_GT(s_Hold.referencesLeft, 0u);
    EXPECT_EQ(GetMp3ReaderReferencesAtDeleteForTest(), 1);
    ExpectResourcesBack(before);
}

// Failure cases: each sets its seams up, converts, and names the one step message it must log ("" none, "*" any
// one of the step messages).
volatile LONG s_SamplesSeen;

void PostAbortAfterFirstSample(IGraphBuilder *graph, const SoundConverter *converter)
{
    IMediaEventSink *sink = NULL;
    if (converter->memory.size > 0 && SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, (void **)&sink))) {
        sink->Notify(EC_ERRORABORT, E_FAIL, 0);
        sink->Release();
    }
}

void StallFirstSample()
{
    if (InterlockedIncrement(&s_SamplesSeen) == 1) {
        Sleep(2000);
    }
}

DWORD WINAPI CloseWindowAfterFirstSample(LPVOID converter)
{
    const volatile unsigned int *size = &((SoundConverter *)converter)->memory.size;
    for (int waited = 0; *size == 0 && waited < 30000; waited += 10) {
        Sleep(10);
    }
    PostMessageA(GetAppWindowHandle(), WM_CLOSE, 0, 0);
    return 0;
}

// Delivers half of what was asked and reports no whole element, as a stream that ends early does.
size_t ShortRead(void *buffer, size_t elementSize, size_t count, DWORD_PTR handle)
{
    MemStreamRead(buffer, 1, elementSize * count / 2, handle);
    return 0;
}

struct FailureCase {
    const char *name;
    const char *fixture; // null: 64 KiB of random bytes
    Mp3ConversionHooks hooks;
    bool emptyStream, shortRead, closeWindow;
    const char *message;
};

TEST_F(Mp3Conversion, FailuresEndInBoundedTimeWithTheirMessageOnly)
{
    static const FailureCase cases[] = {
        {"random bytes", NULL, {}, false, false, false, "*"},
        {"empty stream", "s44_2s", {}, true, false, false, ""},
        {"short read", "s44_2s", {}, false, true, false, ""},
        {"PCM buffer",
         "s44_2s",
         {0, NULL, NULL, 1, NULL},
         false,
         false,
         false,
         "PCMデータを格納するメモリ領域の確保に失敗しました"},
        {"PCM growth",
         "s44_2s",
         {0, NULL, NULL, 2, NULL},
         false,
         false,
         false,
         "PCMデータを格納するメモリ領域の再確保に失敗しました"},
        {"abort posted",
         "s44_60s",
         {0, PostAbortAfterFirstSample, NULL, 0, NULL},
         false,
         false,
         false,
         "MP3変換の途中でエラーが発生しました"},
        {"no sample, no event",
         "s44_2s",
         {300, NULL, StallFirstSample, 0, NULL},
         false,
         false,
         false,
         "MP3変換の途中でエラーが発生しました"},
        {"window closed (last: the engine ends with it)",
         "s44_60s",
         {},
         false,
         false,
         true,
         "MP3変換の途中でソフトが終了しました"},
    };
    for (const FailureCase &row : cases) {
        SCOPED_TRACE(row.name);
        Resources before = WarmedUpResources();
        Bytes mp3 = row.fixture != NULL ? ReadWholeFile(FixturePath(row.fixture, ".mp3")) : Bytes(65536);
        std::mt19937 random(17);
        for (size_t i = 0; row.fixture == NULL && i < mp3.size(); i++) {
            mp3[i] = (unsigned char)random();
        }
        StreamRef stream;
        OpenMemoryStreamRef(mp3.data(), row.emptyStream ? 0 : (unsigned int)mp3.size(), &stream);
        stream.functions.read = row.shortRead ? ShortRead : stream.functions.read;
        SoundConverter converter = {};
        converter.source = stream;
        s_SamplesSeen = 0;
        SetMp3ConversionHooksForTest(&row.hooks);
        HANDLE closer =
            row.closeWindow ? CreateThread(NULL, 0, CloseWindowAfterFirstSample, &converter, 0, NULL) : NULL;
        size_t logStart = ReadLogText().size();
        DWORD started = GetTickCount();
        EXPECT_EQ(ConvertMp3ToPcm(&converter), -1);
        EXPECT_LT(GetTickCount() - started, 60000u);
        if (closer != NULL) {
            WaitForSingleObject(closer, INFINITE);
            CloseHandle(closer);
        }
        SetMp3ConversionHooksForTest(NULL);
        stream.functions.close(stream.handle);
        EXPECT_EQ(converter.memory.block, nullptr);
        std::vector<std::string> logged = StepMessagesIn(ReadLogText().substr(logStart));
        if (std::string(row.message) == "*") {
            EXPECT_EQ(logged.size(), 1u);
        } else if (*row.message == 0) {
            EXPECT_TRUE(logged.empty()) << logged[0];
        } else {
            EXPECT_EQ(logged, std::vector<std::string>{row.message});
        }
        ExpectResourcesBack(before);
    }
}

} // namespace
