// The network pumps against plain Winsock: 64 MiB in 64 KiB blocks over loopback, received by the receive pump
// (a peer thread sending with blocking calls) and sent by the send pump (a peer thread reading), each against a
// plain blocking send/recv loop of the same framed bytes between two loopback sockets in the same run. Starts the
// engine (the pumps reach Winsock through its bound entries) and the network's test start-up. The pumps run on
// the window thread; each peer runs on a thread of its own.
#include <winsock2.h>

#include "bench/bench.h"

#include "network/network_test_hooks.h"

#include <stdio.h>

#include <vector>

#define BLOCK_SIZE (64 * 1024)
#define BLOCK_COUNT 1024
#define ROUNDS 3

static unsigned char s_Block[4 + BLOCK_SIZE];
static volatile LONG s_PeerDone; // set by the peer once it has all; read without a kernel call per pass

static DWORD WINAPI SendBlocks(void *parameter)
{
    SOCKET peer = (SOCKET)(UINT_PTR)parameter;
    for (int b = 0; b < BLOCK_COUNT; b++) {
        for (int sent = 0, n;
             sent < (int)sizeof s_Block && (n = send(peer, (char *)s_Block + sent, sizeof s_Block - sent, 0)) > 0;) {
            sent += n;
        }
    }
    return 0;
}

static DWORD WINAPI ReceiveBlocks(void *parameter)
{
    SOCKET peer = (SOCKET)(UINT_PTR)parameter;
    static char buffer[1 << 16];
    for (long long left = (long long)BLOCK_COUNT * sizeof s_Block, n;
         left > 0 && (n = recv(peer, buffer, sizeof buffer, 0)) > 0;) {
        left -= n;
    }
    InterlockedExchange(&s_PeerDone, 1);
    return 0;
}

static HANDLE StartPeer(LPTHREAD_START_ROUTINE body, SOCKET peer)
{
    s_PeerDone = 0;
    return CreateThread(NULL, 0, body, (void *)(UINT_PTR)peer, 0, NULL);
}

// Until the peer has read everything (sending) or every block is taken (receiving).
static void PumpUntilDone(HANDLE peer, EngineHandle handle, int sending)
{
    static std::vector<unsigned char> taken(BLOCK_COUNT * BLOCK_SIZE); // one pass of the pump may take them all
    long long left = (long long)BLOCK_COUNT * BLOCK_SIZE;
    for (int queued = 0; sending ? !s_PeerDone : left > 0;) {
        if (sending && queued < BLOCK_COUNT && g_NetWorkState.slots[0]->sendRing.stored == 0) {
            QueueNetworkBytesForTest(handle, s_Block + 4, BLOCK_SIZE);
            queued++;
            SendSocket(handle);
        }
        ProcessNetworkMessages(1);
        int got = TakeNetworkBytesForTest(handle, taken.data(), (int)taken.size());
        left -= got > 0 ? got : 0;
    }
    WaitForSingleObject(peer, INFINITE);
    CloseHandle(peer);
}

// A connected pair on 127.0.0.1: the accepted side and the connecting side.
static void ConnectPair(SOCKET listener, const sockaddr_in *address, SOCKET *accepted, SOCKET *connecting)
{
    *connecting = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    connect(*connecting, (const sockaddr *)address, sizeof *address);
    *accepted = accept(listener, NULL, NULL);
}

int main(void)
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SetMainWindowTitle("QvNetworkBench");
    ChangeWindowMode(1);
    if (InitEngine() != 0) {
        return 1;
    }
    for (int i = 0; i < BLOCK_SIZE; i++) {
        s_Block[4 + i] = (unsigned char)(i * 7);
    }
    s_Block[2] = BLOCK_SIZE >> 16; // the little-endian length 0x00010000
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    bind(listener, (sockaddr *)&address, sizeof address);
    listen(listener, 4);
    getsockname(listener, (sockaddr *)&address, &length);

    SOCKET plainA, plainB;
    ConnectPair(listener, &address, &plainA, &plainB);
    double plain = BenchBest(ROUNDS, [&] {
        HANDLE peer = StartPeer(ReceiveBlocks, plainB);
        SendBlocks((void *)(UINT_PTR)plainA);
        WaitForSingleObject(peer, INFINITE);
        CloseHandle(peer);
    });

    StartNetworkForTest(listener, 0);
    SOCKET client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    connect(client, (sockaddr *)&address, sizeof address);
    while (g_NetWorkState.slots[0] == NULL) {
        ProcessNetworkMessages(1);
        Sleep(1);
    }
    EngineHandle handle = g_NetWorkState.slots[0]->node.handle;
    double received = BenchBest(ROUNDS, [&] { PumpUntilDone(StartPeer(SendBlocks, client), handle, 0); });
    double sent = BenchBest(ROUNDS, [&] { PumpUntilDone(StartPeer(ReceiveBlocks, client), handle, 1); });
    BenchReport("network receive pump, 64 MiB in 64 KiB blocks", received, "blocking send/recv loop", plain);
    BenchReport("network send pump, 64 MiB in 64 KiB blocks", sent, "blocking send/recv loop", plain);

    closesocket(client);
    closesocket(plainA);
    closesocket(plainB);
    EndEngine();
    WSACleanup();
    return 0;
}
