// Network: the public receive and send pumps over Winsock (their entry checks, the one re-entry guard per pump,
// and the refused events they run once the running pump has ended), and the Winsock entries engine start-up
// bound, through which alone the layer reaches the platform. Window thread only.
#include "network/network_internal.h"

typedef int(WINAPI *RecvFunction)(NetSocket, char *, int, int);
typedef int(WINAPI *SendFunction)(NetSocket, const char *, int, int);
typedef NetSocket(WINAPI *AcceptFunction)(NetSocket, void *, int *);
typedef int(WINAPI *CloseSocketFunction)(NetSocket);
typedef int(WINAPI *AsyncSelectFunction)(NetSocket, HWND, UINT, long);
typedef int(WINAPI *StartupFunction)(WORD, void *);
typedef int(WINAPI *CleanupFunction)(void);

#define WS2_ENTRY(type, index) ((type)(void (*)(void))GetBoundEntry(BOUND_WS2_32, (index)))

static int s_ReceiveRunning;
static int s_SendRunning;
static int s_RunningPending;

// ---------------------------------------------------------------------------------------------------------------
// Bound Winsock entries. Every one is read at each call, so that a test's stand-in answers at once.

int IsWinsockBound(void)
{
    static const int used[] = {WS2_WSA_STARTUP, WS2_WSA_CLEANUP, WS2_WSA_ASYNC_SELECT, WS2_SEND, WS2_ACCEPT,
                               WS2_CLOSESOCKET, WS2_RECV};
    for (int index : used) {
        if (GetBoundEntry(BOUND_WS2_32, index) == NULL) {
            return 0;
        }
    }
    return 1;
}

int NetReceive(NetSocket socket, void *buffer, int length)
{
    return WS2_ENTRY(RecvFunction, WS2_RECV)(socket, (char *)buffer, length, 0);
}

int NetSend(NetSocket socket, const void *buffer, int length)
{
    return WS2_ENTRY(SendFunction, WS2_SEND)(socket, (const char *)buffer, length, 0);
}

NetSocket NetAccept(NetSocket socket, void *address, int *addressLength)
{
    return WS2_ENTRY(AcceptFunction, WS2_ACCEPT)(socket, address, addressLength);
}

int NetCloseSocket(NetSocket socket)
{
    return WS2_ENTRY(CloseSocketFunction, WS2_CLOSESOCKET)(socket);
}

int NetAsyncSelect(NetSocket socket, HWND window, UINT message, long events)
{
    return WS2_ENTRY(AsyncSelectFunction, WS2_WSA_ASYNC_SELECT)(socket, window, message, events);
}

int NetStartup(void)
{
    unsigned char data[512]; // WSADATA, whose contents the layer does not read
    return WS2_ENTRY(StartupFunction, WS2_WSA_STARTUP)(MAKEWORD(2, 2), data);
}

int NetCleanup(void)
{
    CleanupFunction cleanup = WS2_ENTRY(CleanupFunction, WS2_WSA_CLEANUP);
    return cleanup != NULL ? cleanup() : 0;
}

static int ReceiveThroughWinsock(void *context, NetSocket socket, unsigned char *buffer, int length)
{
    return NetReceive(socket, buffer, length);
}

static int SendThroughWinsock(void *context, NetSocket socket, const unsigned char *buffer, int length)
{
    return NetSend(socket, buffer, length);
}

static int DispatchSocketEvents(void *context)
{
    return ProcessNetworkMessages(0);
}

static const NetTransport s_WinsockTransport = {NULL, ReceiveThroughWinsock, SendThroughWinsock, DispatchSocketEvents};

// ---------------------------------------------------------------------------------------------------------------
// The pumps.

static NetWorkRecord *FindStreamRecord(EngineHandle handle)
{
    NetWorkRecord *record = FindNetworkRecord(handle);
    return record != NULL && record->datagram == 0 ? record : NULL;
}

static int RunReceivePump(NetWorkRecord *record)
{
    record->receivePumpRuns++;
    ProcessNetworkMessages(0);
    if (record->inUse == 0) {
        return AddLog("有効なネットワークハンドルではありません in RecvSocket\n");
    }
    if (record->error == 1) {
        return AddLog("このネットワークハンドルにはエラーが発生しています in RecvSocket\n");
    }
    return record->framed == 1 ? PumpReceiveBlocks(record, &s_WinsockTransport) : 0;
}

static int RunSendPump(NetWorkRecord *record)
{
    ProcessNetworkMessages(0);
    if (record->inUse == 0) {
        return AddLog("有効なネットワークハンドルではありません in SendSocket\n");
    }
    if (record->error == 1) {
        return AddLog("このネットワークハンドルにはエラーが発生しています in SendSocket\n");
    }
    if (record->sendRing.stored == 0 || record->framed != 1) {
        return 0;
    }
    return PumpSendBlocks(record, &s_WinsockTransport);
}

// A refused event is marked on its record: Winsock posts no further one until recv or send is called.
int RecvSocket(EngineHandle handle)
{
    NetWorkRecord *record = FindStreamRecord(handle);
    if (record == NULL) {
        return -1;
    }
    if (s_ReceiveRunning) {
        record->receivePending = 1;
        return -1;
    }
    s_ReceiveRunning = 1;
    int result = RunReceivePump(record);
    s_ReceiveRunning = 0;
    RunPendingNetworkPumps();
    return result;
}

int SendSocket(EngineHandle handle)
{
    NetWorkRecord *record = FindStreamRecord(handle);
    if (record == NULL) {
        return -1;
    }
    if (s_SendRunning) {
        record->sendPending = 1;
        return -1;
    }
    s_SendRunning = 1;
    int result = RunSendPump(record);
    s_SendRunning = 0;
    RunPendingNetworkPumps();
    return result;
}

void RunPendingNetworkPumps(void)
{
    NetWorkState *s = &g_NetWorkState;
    if (s_RunningPending || !s->started) {
        return;
    }
    s_RunningPending = 1;
    // The pumps only dispatch events, which may link new records at the head but free none.
    for (NetWorkListNode *node = s->head.next; node != &s->tail; node = node->next) {
        NetWorkRecord *record = node->record;
        if (record->receivePending && !s_ReceiveRunning) {
            record->receivePending = 0;
            RecvSocket(node->handle);
        }
        if (record->sendPending && !s_SendRunning) {
            record->sendPending = 0;
            SendSocket(node->handle);
        }
    }
    s_RunningPending = 0;
}
