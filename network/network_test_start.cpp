// Network: the test programs' start-up and their queueing and taking of block bytes (network_test_hooks.h). The
// program itself never starts the network. Window thread only.
#include "network/network_test_hooks.h"

#include <string.h>

#define EVENT_WINDOW_CLASS "QvNetworkSocketEvents"
#define LISTEN_EVENTS (NET_EVENT_ACCEPT | NET_EVENT_CLOSE)

static LRESULT CALLBACK SocketEventWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == NETWORK_SOCKET_MESSAGE) {
        return OnNetworkSocketMessage(lParam, wParam);
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

static HWND CreateSocketEventWindow(void)
{
    WNDCLASSA windowClass;
    memset(&windowClass, 0, sizeof windowClass);
    windowClass.lpfnWndProc = SocketEventWindowProc;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = EVENT_WINDOW_CLASS;
    RegisterClassA(&windowClass); // already registered by an earlier start: kept
    return CreateWindowExA(0, EVENT_WINDOW_CLASS, "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, GetModuleHandleA(NULL), NULL);
}

int StartNetworkForTest(NetSocket listener, int ipv6)
{
    NetWorkState *s = &g_NetWorkState;
    if (s->started || !IsWinsockBound() || NetStartup() != 0) {
        return -1;
    }
    s->eventWindow = CreateSocketEventWindow();
    NetWorkRecord *record = (NetWorkRecord *)ENGINE_ALLOC_ZEROED(sizeof(NetWorkRecord));
    if (s->eventWindow == NULL || record == NULL) {
        FreeMemory(record);
        NetCleanup();
        memset(s, 0, sizeof *s);
        return -1;
    }
    s->head.next = &s->tail;
    s->tail.previous = &s->head;
    record->inUse = 1;
    record->connected = 1;
    record->ipv6 = ipv6;
    record->socket = listener;
    LinkNetworkRecord(record, NETWORK_LISTEN_SLOT);
    s->checkCounter++;
    s->started = 1;
    return NetAsyncSelect(listener, s->eventWindow, NETWORK_SOCKET_MESSAGE, LISTEN_EVENTS) == 0 ? 0 : -1;
}

static NetWorkRecord *FindFramedRecord(EngineHandle handle)
{
    NetWorkRecord *record = FindNetworkRecord(handle);
    return record != NULL && record->datagram == 0 && record->framed == 1 ? record : NULL;
}

int QueueNetworkBytesForTest(EngineHandle handle, const void *bytes, int count)
{
    NetWorkRecord *record = FindFramedRecord(handle);
    if (record == NULL || count < 0) {
        return -1;
    }
    RingBuffer *ring = &record->sendRing;
    long long nextBlock = (long long)ring->stored - record->sendRemaining + count;
    if (nextBlock > NETWORK_BLOCK_LIMIT || ReserveNetworkRing(ring, count) != 0) {
        return -1;
    }
    ResetRingPositionsAtEnd(ring);
    int first = ring->capacity - ring->writePosition < count ? ring->capacity - ring->writePosition : count;
    memcpy(ring->data + ring->writePosition, bytes, first);
    memcpy(ring->data, (const unsigned char *)bytes + first, count - first);
    ring->writePosition = first < count ? count - first : ring->writePosition + count;
    ring->stored += count;
    return 0;
}

int TakeNetworkBytesForTest(EngineHandle handle, void *destination, int capacity)
{
    NetWorkRecord *record = FindFramedRecord(handle);
    if (record == NULL || record->receivedCompleteBytes > capacity) {
        return -1;
    }
    int complete = record->receivedCompleteBytes;
    RingBufferRead(&record->receiveRing, destination, complete, 0);
    record->receivedCompleteBytes = 0;
    return complete;
}
