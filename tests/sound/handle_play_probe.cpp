// Plays the program's "SE" tone resource into the harness's sink for handle_play_check.py, which records it: once
// (polling CheckSoundPlaying until it falls to 0), looped for 2.5 s then stopped, then once at volume 255 and once at
// 102. Each step is reported to "play_report.txt"; a second of quiet lies between steps.
#include "sound_test_engine.h"

#include <stdio.h>

static FILE *s_Report;

// Pumps for `milliseconds`, or until the sound stops playing when `untilSilent`; the milliseconds it took.
static int PumpFor(int milliseconds, EngineHandle sound, int untilSilent)
{
    DWORD start = GetTickCount();
    while ((int)(GetTickCount() - start) < milliseconds && !(untilSilent && CheckSoundPlaying(sound) != 1)) {
        ProcessWindowMessages();
        Sleep(1);
    }
    return (int)(GetTickCount() - start);
}

static void PlayOnce(const char *step, EngineHandle sound)
{
    int playingAtStart = (PlaySoundHandle(sound, 1, 1) == 0) ? CheckSoundPlaying(sound) : -1;
    int took = PumpFor(20000, sound, 1);
    fprintf(s_Report, "%s playing=%d ended_ms=%d after=%d\n", step, playingAtStart, took, CheckSoundPlaying(sound));
    PumpFor(1000, sound, 0);
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    s_Report = fopen("play_report.txt", "w");
    if (s_Report == NULL || StartSoundTestEngine("QvSoundPlayProbe") != 0) {
        return 1;
    }
    EngineHandle sound = LoadSoundFromResource(MAKEINTRESOURCEA(300), "SE", 1);
    fprintf(s_Report, "loaded handle=%d total_ms=%d\n", sound != -1, GetSoundTotalTime(sound));
    PumpFor(1000, sound, 0);
    PlayOnce("once", sound);

    int looped = PlaySoundHandle(sound, 3, 1);
    PumpFor(2500, sound, 0);
    int stillPlaying = CheckSoundPlaying(sound);
    StopSoundHandle(sound);
    fprintf(s_Report, "loop played=%d playing=%d stopped=%d\n", looped, stillPlaying, CheckSoundPlaying(sound));
    PumpFor(1000, sound, 0);

    SetSoundVolume255(255, sound);
    PlayOnce("full", sound);
    SetSoundVolume255(102, sound);
    LONG volume = 0;
    GetSoundRecord(sound)->slots[0].buffer->GetVolume(&volume);
    fprintf(s_Report, "volume102 reads=%ld\n", volume);
    PlayOnce("quieter", sound);

    DeleteAllSoundHandles(0);
    EndEngine();
    fprintf(s_Report, "end allocations=%d\n", GetAllocationCount());
    fclose(s_Report);
    return 0;
}
