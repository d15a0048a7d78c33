// Host stand-ins for what the network framing and the ring buffer need of the engine core besides the allocator
// of host_core.cpp: a formatted log line that is only counted, the single-byte character set, and a clock at 0.
// Single-threaded, as the host tests and the fuzz target are.
#include "font/font.h"
#include "network/network_internal.h"

int LogFormatLine(const char *format, ...)
{
    return AddLog(format);
}

CharSetId GetEngineCharSet(void)
{
    return 0;
}

int IsMultiByteLeadByte(const void *byte, CharSetId charSet)
{
    return 0;
}

int GetNowMilliCount(void)
{
    return 0;
}
