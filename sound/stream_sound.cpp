// Stream sounds: stand-ins until the stream work brings them. No stream sound is ever made: the stream calls refuse
// and the refill thread only waits for its stop. Window thread and refill thread.
#include "sound/sound_internal.h"

int ProcessAllStreamSounds(void)
{
    return -1; // sound is not started
}

int SetupStreamFromMemory(const void *, unsigned int, unsigned char, EngineHandle, int, EngineHandle)
{
    return -1;
}

int PrimeStreamSound(EngineHandle)
{
    return -1;
}

int PlayStreamSound(EngineHandle, int, int)
{
    return -1;
}

int StopStreamSound(EngineHandle)
{
    return -1;
}

int CheckStreamPlaying(EngineHandle)
{
    return 0;
}

int GetStreamSoundCurrentTime(EngineHandle)
{
    return 0;
}

int ReleaseStreamEntries(SoundRecord *)
{
    return 0;
}

DWORD WINAPI StreamRefillThread(LPVOID)
{
    while (g_Sound.refillStop != 1) {
        Sleep(30);
    }
    InterlockedExchange(&g_Sound.refillStop, 2);
    return 0;
}
