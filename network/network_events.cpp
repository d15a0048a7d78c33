// Network: the socket events Winsock posts to the socket-event window (found by socket on the list, they drive
// the pumps, accept and keep the connected flag) and the accepting of new connections into the table.
// Window thread only: reached from the window procedure, also inside the dispatch of the upkeep.
#include "network/network_internal.h"

#define IPV6_ADDRESS_SIZE 28
#define IPV4_ADDRESS_SIZE 16
#define STREAM_EVENTS (NET_EVENT_READ | NET_EVENT_WRITE | NET_EVENT_CLOSE)

static NetWorkRecord *FindRecordBySocket(NetSocket socket)
{
    NetWorkListNode *node = g_NetWorkState.head.next;
    while (node != NULL && node != &g_NetWorkState.tail && node->record->socket != socket) {
        node = node->next;
    }
    return node != NULL && node != &g_NetWorkState.tail ? node->record : NULL;
}

LRESULT OnNetworkSocketMessage(LPARAM event, WPARAM socket)
{
    NetWorkRecord *record = FindRecordBySocket((NetSocket)socket);
    if (record == NULL) {
        AddLog("通信エラー No.1\n");
        return 0;
    }
    int stream = record->datagram == 0;
    switch (LOWORD(event)) {
    case NET_EVENT_READ:
        if (stream) {
            RecvSocket(record->node.handle);
        } else {
            record->readReady = 1;
        }
        return 1;
    case NET_EVENT_WRITE:
        if (stream) {
            SendSocket(record->node.handle);
        } else {
            record->writeReady = 1;
        }
        return 1;
    case NET_EVENT_ACCEPT:
        return stream ? AcceptNetWork() : 1;
    case NET_EVENT_CONNECT:
        if (stream && HIWORD(event) == 0) {
            record->connected = 1;
        }
        return 1;
    case NET_EVENT_CLOSE:
        if (stream) {
            record->connected = 0;
            record->secondState = 0;
        }
        return 1;
    default:
        return 1;
    }
}

static int FindFreeSlot(void)
{
    for (int slot = 0; slot < NETWORK_CONNECTION_SLOTS; slot++) {
        if (g_NetWorkState.slots[slot] == NULL) {
            return slot;
        }
    }
    return -1;
}

static void FillNewRecord(NetWorkRecord *record, int ipv6)
{
    MemFill(record, 0, sizeof *record);
    record->ipv6 = ipv6;
    record->inUse = 1;
    record->connected = 1;
    record->spareB = 1;
    record->framed = g_NetWorkState.unframed == 0;
    record->autoClose = g_NetWorkState.noAutoClose == 0;
}

static void CopyPeerAddress(NetWorkRecord *record, const unsigned char *address)
{
    if (record->ipv6) {
        MemCopy(record->peerIpv6, address + 8, sizeof record->peerIpv6);
    } else {
        MemCopy(record->peerIpv4, address + 4, sizeof record->peerIpv4);
    }
    uint16_t port;
    MemCopy(&port, address + 2, sizeof port);
    record->peerPort = port;
}

// Undoes a half-made accept; the check counter was not raised yet.
static int FailAccept(NetWorkRecord *record, const char *message)
{
    LogNetworkError("%s", message);
    record->inUse = 0;
    DiscardNetworkRecord(record);
    return -1;
}

int AcceptNetWork(void)
{
    NetWorkState *s = &g_NetWorkState;
    if (!s->started) {
        return -1;
    }
    ProcessNetworkMessages(0);
    NetWorkRecord *listener = s->slots[NETWORK_LISTEN_SLOT];
    if (listener == NULL) {
        return -1;
    }
    int slot = FindFreeSlot();
    if (slot < 0) {
        return AddLog("空きソケットデータがなかったので accept を拒否しました \n");
    }
    NetWorkRecord *record = (NetWorkRecord *)ENGINE_ALLOC(sizeof(NetWorkRecord));
    if (record == NULL) {
        return AddLog("ソケット用のメモリの確保に失敗しました\n");
    }
    FillNewRecord(record, listener->ipv6);
    LinkNetworkRecord(record, slot);

    unsigned char address[IPV6_ADDRESS_SIZE] = {0};
    int addressLength = record->ipv6 ? IPV6_ADDRESS_SIZE : IPV4_ADDRESS_SIZE;
    record->socket = NetAccept(listener->socket, address, &addressLength);
    if (record->socket == NET_INVALID_SOCKET) {
        return FailAccept(record, "acceptに失敗しました");
    }
    CopyPeerAddress(record, address);
    if (NetAsyncSelect(record->socket, s->eventWindow, NETWORK_SOCKET_MESSAGE, STREAM_EVENTS) == -1) {
        return FailAccept(record, "WSAAsyncSelectのエラー in AcceptNetWork");
    }
    s->checkCounter = s->checkCounter + 1 >= HANDLE_CHECK_LIMIT ? 0 : s->checkCounter + 1;
    return 1;
}
