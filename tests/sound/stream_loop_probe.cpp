// Plays a short 441 Hz tone as a looping stream sound for three seconds, for stream_loop_check.py to record from
// the sink. The tone holds a whole number of periods, so that a seamless loop sounds as one steady tone. Exit 0
// when it played throughout.
#include <math.h>

#include "stream_test_support.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    SetEngineStartOptions(1, 0, 1); // sound alone
    SetMainWindowTitle("QvStreamLoopProbe");
    ChangeWindowMode(1);
    if (InitEngine() != 0) {
        return 1;
    }
    Bytes pcm(20000 * 4); // 200 periods of 100 frames
    for (size_t frame = 0; frame < 20000; frame++) {
        int16_t sample = (int16_t)(12000 * sin(frame * 6.283185307179586 / 100));
        memcpy(&pcm[frame * 4], &sample, 2);
        memcpy(&pcm[frame * 4 + 2], &sample, 2);
    }
    Bytes wave = MakeWave(44100, 16, 2, pcm);
    EngineHandle handle = MakeStreamSound({wave}, {0});
    int result = handle != -1 && PlayStreamSound(handle, 3, 1) == 0 ? 0 : 2;
    for (DWORD start = GetTickCount(); result == 0 && GetTickCount() - start < 3000;) {
        result = ProcessWindowMessages() == 0 && CheckStreamPlaying(handle) == 1 ? 0 : 3;
        Sleep(10);
    }
    DeleteSoundHandle(handle, 0);
    EndEngine();
    return result;
}
