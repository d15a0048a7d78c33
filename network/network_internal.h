// Network: what the files of the subsystem share and nothing outside it includes: the record, the list node,
// the one table state, the bound Winsock entries, and the Winsock-free block framing with the transport table
// through which it moves bytes (so that the host build and its fuzz target take the framing as it is).
// Window thread only.
#pragma once

#include "network/network.h"

typedef UINT_PTR NetSocket;
#define NET_INVALID_SOCKET ((NetSocket) ~(NetSocket)0)

// Socket events (low word of the event message's second parameter).
enum { NET_EVENT_READ = 1, NET_EVENT_WRITE = 2, NET_EVENT_ACCEPT = 8, NET_EVENT_CONNECT = 16, NET_EVENT_CLOSE = 32 };

struct NetWorkRecord;

struct NetWorkListNode {
    EngineHandle handle;
    NetWorkRecord *record;
    NetWorkListNode *previous;
    NetWorkListNode *next;
};

struct NetWorkRecord {
    HandleRecordHeader header; // check number and handle, read by the shared handle validation
    int datagram;
    int inUse;
    int ipv6;
    int error;
    int connected;
    int secondState;
    int spareA;
    int spareB;
    int framed;
    int autoClose;
    NetSocket socket;
    // Receive side. The length prefix is assembled here across events; the ring and the counters change only
    // once all four bytes are in.
    int receiveRemaining;
    RingBuffer receiveRing;
    int receiveBlockLength;
    int receivedCompleteBytes;
    unsigned char receivePrefix[4];
    int receivePrefixCount;
    int peerEnded; // a receive answered 0: the peer sends nothing more
    // Send side: the prefix of the block being sent, and how much of it and of the block is still to go.
    RingBuffer sendRing;
    uint32_t sendRemaining;
    int prefixRemaining;
    unsigned char sendPrefix[4];
    // Events refused while a pump of the same kind ran: run once it has ended.
    int receivePending;
    int sendPending;
    unsigned char peerIpv4[4];
    uint16_t peerIpv6[8];
    uint32_t peerPort;
    int readReady;
    int writeReady;
    int receivePumpRuns; // receive pumps past the re-entry guard: the tests' measure of idle read events
    NetWorkListNode node;
};

struct NetWorkState {
    NetWorkRecord *slots[NETWORK_LISTEN_SLOT + 1];
    NetWorkListNode head; // head.next is the newest record's node
    NetWorkListNode tail;
    int checkCounter;
    int started;
    HWND eventWindow;
    int unframed;
    int noAutoClose;
};

extern NetWorkState g_NetWorkState;

// The record behind a handle when the network is started and the handle passes the check, else null.
NetWorkRecord *FindNetworkRecord(EngineHandle handle);
void LinkNetworkRecord(NetWorkRecord *record, int slot);
// Stops the socket's events, closes it, releases the rings, unlinks and frees the record and clears its slot.
void DiscardNetworkRecord(NetWorkRecord *record);
// Runs the pumps refused while another pump of their kind ran; one walk, later refusals wait for the next.
void RunPendingNetworkPumps(void);

// ---------------------------------------------------------------------------------------------------------------
// Winsock through the entries engine start-up bound (indices into BOUND_WS2_32).

enum {
    WS2_WSA_STARTUP = 1,
    WS2_WSA_CLEANUP = 2,
    WS2_WSA_ASYNC_SELECT = 3,
    WS2_SEND = 12,
    WS2_ACCEPT = 15,
    WS2_CLOSESOCKET = 16,
    WS2_RECV = 21
};

int NetReceive(NetSocket socket, void *buffer, int length);
int NetSend(NetSocket socket, const void *buffer, int length);
NetSocket NetAccept(NetSocket socket, void *address, int *addressLength);
int NetCloseSocket(NetSocket socket);
int NetAsyncSelect(NetSocket socket, HWND window, UINT message, long events);
int NetStartup(void);
int NetCleanup(void);
int IsWinsockBound(void);

// ---------------------------------------------------------------------------------------------------------------
// Block framing: each block is its length as an unsigned little-endian 32-bit integer, then its bytes.

struct NetTransport {
    void *context;
    // Bytes moved (above 0), 0 when the peer has ended, negative when nothing moves now (would-block or failure).
    int (*receive)(void *context, NetSocket socket, unsigned char *buffer, int length);
    int (*send)(void *context, NetSocket socket, const unsigned char *buffer, int length);
    // The upkeep between blocks; nonzero stops the pump.
    int (*dispatch)(void *context);
};

// The most one receive asks of the socket.
#define NETWORK_READ_AHEAD_SIZE (256 * 1024)
// Receives whole or partial blocks into the record's receive ring until the transport has nothing more:
// 0, or -1 once the record went into the error state (a length above the block limit, a ring that cannot grow).
int PumpReceiveBlocks(NetWorkRecord *record, const NetTransport *transport);
// Sends the record's queued bytes as blocks until the transport takes nothing more or the ring is empty: 0.
int PumpSendBlocks(NetWorkRecord *record, const NetTransport *transport);

// The rings of the network layer carry a guard after their last byte: reserved and released here only.
#define NETWORK_RING_CANARY_SIZE 16
int ReserveNetworkRing(RingBuffer *ring, int count);
void ReleaseNetworkRing(RingBuffer *ring);
int GetDamagedNetworkRingCount(void); // guards found overwritten since the program started
