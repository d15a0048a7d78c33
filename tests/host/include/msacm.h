// Host stand-in: the Audio Compression Manager's handles, stream header and flags. No codec exists on the host: the
// engine's entry pointers stay null there, so the ACM kinds decline.
#pragma once

#include <mmsystem.h>

typedef struct HACMDRIVER__ *HACMDRIVER;
typedef struct HACMSTREAM__ *HACMSTREAM, **LPHACMSTREAM;
typedef struct HACMOBJ__ *HACMOBJ;
typedef struct wavefilter_tag *LPWAVEFILTER;

typedef struct tACMSTREAMHEADER {
    DWORD cbStruct;
    DWORD fdwStatus;
    DWORD_PTR dwUser;
    LPBYTE pbSrc;
    DWORD cbSrcLength;
    DWORD cbSrcLengthUsed;
    DWORD_PTR dwSrcUser;
    LPBYTE pbDst;
    DWORD cbDstLength;
    DWORD cbDstLengthUsed;
    DWORD_PTR dwDstUser;
    DWORD dwReservedDriver[10];
} ACMSTREAMHEADER, *LPACMSTREAMHEADER;

#define ACM_METRIC_MAX_SIZE_FORMAT 50
#define ACM_FORMATSUGGESTF_WFORMATTAG 0x00010000
#define ACM_STREAMOPENF_NONREALTIME 0x00000004
#define ACM_STREAMSIZEF_SOURCE 0x00000000
