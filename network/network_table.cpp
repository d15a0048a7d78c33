// Network: the handle table and its list of live records, the handle check, the two closes with the bounded
// flush, the upkeep the message pump runs, and the network end. Window thread only; nothing is locked, but the
// closes and the upkeep dispatch socket events, which may run the pumps and accept while they work.
#include "network/network_internal.h"

#include <string.h>

#define FLUSH_MILLISECONDS 1000

NetWorkState g_NetWorkState;

NetWorkRecord *FindNetworkRecord(EngineHandle handle)
{
    if (!g_NetWorkState.started) {
        return NULL;
    }
    return (NetWorkRecord *)ValidateEngineHandle(handle, HANDLE_TYPE_NETWORK, (void *const *)g_NetWorkState.slots,
                                                 NETWORK_LISTEN_SLOT + 1);
}

// Takes the check counter as the record's check number and links the record in as the newest.
void LinkNetworkRecord(NetWorkRecord *record, int slot)
{
    NetWorkState *s = &g_NetWorkState;
    EngineHandle handle = MakeEngineHandle(HANDLE_TYPE_NETWORK, s->checkCounter, slot);
    record->header.checkNumber = s->checkCounter;
    record->header.handle = handle;
    record->node.handle = handle;
    record->node.record = record;
    record->node.previous = &s->head;
    record->node.next = s->head.next;
    s->head.next->previous = &record->node;
    s->head.next = &record->node;
    s->slots[slot] = record;
}

void DiscardNetworkRecord(NetWorkRecord *record)
{
    if (record->socket != 0 && record->socket != NET_INVALID_SOCKET) {
        NetAsyncSelect(record->socket, g_NetWorkState.eventWindow, 0, 0);
        NetCloseSocket(record->socket);
    }
    record->socket = 0;
    ReleaseNetworkRing(&record->receiveRing);
    ReleaseNetworkRing(&record->sendRing);
    record->node.previous->next = record->node.next;
    record->node.next->previous = record->node.previous;
    g_NetWorkState.slots[record->node.handle & HANDLE_INDEX_MASK] = NULL;
    FreeMemory(record);
}

// Each flush ends after a second, at the first refusal, and for receiving also when the peer has ended (the
// rest of its block never comes); a connection in the error state is not flushed at all.
static void FlushReceived(EngineHandle handle, NetWorkRecord *record)
{
    int start = GetNowMilliCount();
    while (MilliCountElapsed(start, GetNowMilliCount()) < FLUSH_MILLISECONDS && record->receiveRemaining != 0 &&
           !record->peerEnded && !record->error) {
        if (ProcessNetworkMessages(0) != 0 || RecvSocket(handle) != 0) {
            return;
        }
    }
}

static void FlushQueued(EngineHandle handle, NetWorkRecord *record)
{
    int start = GetNowMilliCount();
    while (MilliCountElapsed(start, GetNowMilliCount()) < FLUSH_MILLISECONDS && record->sendRing.stored != 0 &&
           !record->error) {
        if (ProcessNetworkMessages(0) != 0 || SendSocket(handle) != 0) {
            return;
        }
    }
}

int CloseNetWork(EngineHandle handle)
{
    NetWorkRecord *record = FindNetworkRecord(handle);
    if (record == NULL || record->datagram != 0 || record->inUse == 0) {
        return -1;
    }
    ProcessNetworkMessages(0);
    FlushReceived(handle, record);
    FlushQueued(handle, record);
    DiscardNetworkRecord(record);
    return 0;
}

int CloseNetWorkNoFlush(EngineHandle handle)
{
    NetWorkRecord *record = FindNetworkRecord(handle);
    if (record == NULL || record->datagram == 0) {
        return -1;
    }
    DiscardNetworkRecord(record);
    return 0;
}

static int FindLowestUsedSlot(void)
{
    for (int slot = 0; slot <= NETWORK_LISTEN_SLOT; slot++) {
        if (g_NetWorkState.slots[slot] != NULL) {
            return slot;
        }
    }
    return -1;
}

int TerminateNetwork(void)
{
    NetWorkState *s = &g_NetWorkState;
    if (!s->started) {
        return 0;
    }
    AddLog("ネットワーク関連の終了処理を行います \n");
    // Every close frees its slot, so the lowest used slot is the next; one accepted meanwhile is closed too.
    for (int slot = FindLowestUsedSlot(); slot >= 0; slot = FindLowestUsedSlot()) {
        NetWorkRecord *record = s->slots[slot];
        EngineHandle handle = record->node.handle;
        int closed = record->datagram ? CloseNetWorkNoFlush(handle) : CloseNetWork(handle);
        if (closed != 0) {
            DiscardNetworkRecord(record); // a record out of use is freed all the same
        }
    }
    if (s->eventWindow != NULL) {
        PostMessageA(s->eventWindow, WM_CLOSE, 0, 0);
        ProcessNetworkMessages(0);
    }
    memset(s, 0, sizeof *s);
    NetCleanup();
    AddLog("ネットワーク関連の終了処理は完了しました\n");
    return 0;
}

static int IsEndedConnection(const NetWorkRecord *record)
{
    return record->inUse == 1 &&
           (record->error == 1 || (record->connected == 0 && record->secondState == 1 && record->autoClose == 1));
}

int ProcessNetworkMessages(int closeEnded)
{
    NetWorkState *s = &g_NetWorkState;
    if (s->eventWindow == NULL || !s->started) {
        return 0;
    }
    if (closeEnded == 1) {
        for (NetWorkListNode *node = s->head.next; node != &s->tail;) {
            NetWorkListNode *next = node->next;
            if (IsEndedConnection(node->record)) {
                CloseNetWork(node->handle);
            }
            node = next;
        }
        RunPendingNetworkPumps();
    }
    MSG message;
    while (PeekMessageA(&message, s->eventWindow, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}
