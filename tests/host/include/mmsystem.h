// Host stand-in: the wave format record and the result type of the multimedia headers, with Windows' packing.
#pragma once

#include <windows.h>

typedef UINT MMRESULT;

#pragma pack(push, 1)
typedef struct tWAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
} WAVEFORMATEX, *LPWAVEFORMATEX;
#pragma pack(pop)

#define WAVE_FORMAT_PCM 1
