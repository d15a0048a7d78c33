// The network layer with the engine running and the test start-up on a loopback listener: accepting with the
// peer addresses and slot reuse, the framing from two clients (two writes cut at every early offset and around
// every block boundary, one write, random pieces) against the reference parse, large sends, queueing during a
// send and a relay, bad peers, and the closes and the end. Waits are bounded by generous time, never by counts.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "core/test_log.h"
#include "framing_model.h"
#include "network/network_test_hooks.h"

#include <functional>
#include <random>

namespace
{

const int WAIT_MS = 30000;

bool WaitFor(const std::function<bool()> &done, int ms = WAIT_MS)
{
    for (DWORD start = GetTickCount(); !done();) {
        if ((int)(GetTickCount() - start) > ms) {
            return false;
        }
        ProcessNetworkMessages(1);
        Sleep(1);
    }
    return true;
}

NetWorkRecord *Slot(int slot)
{
    return g_NetWorkState.slots[slot];
}

Bytes Stream(const std::vector<size_t> &sizes, unsigned seed)
{
    std::mt19937 random(seed);
    Bytes stream;
    for (size_t size : sizes) {
        for (int i = 0; i < 4; i++) {
            stream.push_back((unsigned char)(size >> (8 * i)));
        }
        for (size_t i = 0; i < size; i++) {
            stream.push_back((unsigned char)random());
        }
    }
    return stream;
}

// Sends from a non-blocking client while the layer runs on this same thread.
void SendAll(SOCKET client, const unsigned char *bytes, size_t count)
{
    ASSERT_TRUE(WaitFor([&] {
        int sent = count == 0 ? 0 : send(client, (const char *)bytes, (int)count, 0);
        if (sent > 0) {
            bytes += sent, count -= sent;
        }
        return count == 0;
    }));
}

// Everything a client receives until `count` bytes are in or the peer ends; `ended` tells which.
Bytes Receive(SOCKET client, size_t count, bool *ended = NULL)
{
    Bytes got;
    bool end = false;
    WaitFor([&] {
        unsigned char buffer[65536];
        int received = recv(client, (char *)buffer, sizeof buffer, 0);
        end = received == 0 || (received < 0 && WSAGetLastError() != WSAEWOULDBLOCK);
        got.insert(got.end(), buffer, buffer + (received > 0 ? received : 0));
        return end || got.size() >= count;
    });
    if (ended != NULL) {
        *ended = end;
    }
    return got;
}

class NetworkLoopback : public TestWithLog
{
  protected:
    sockaddr_storage m_Address = {};
    int m_AddressLength = 0;
    std::vector<SOCKET> m_Clients;

    void SetUp() override
    {
        TestWithLog::SetUp();
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
        SetMainWindowTitle("QvNetworkLoopback");
        ChangeWindowMode(1);
        ASSERT_EQ(InitEngine(), 0);
    }
    void TearDown() override
    {
        TerminateNetwork();
        for (SOCKET client : m_Clients) {
            closesocket(client);
        }
        EndEngine();
        EXPECT_EQ(GetAllocationCount(), 0);
        EXPECT_EQ(GetDamagedNetworkRingCount(), 0);
        WSACleanup();
        TestWithLog::TearDown();
    }
    // false where the family has no loopback (Wine without IPv6).
    bool Start(int family)
    {
        SOCKET listener = socket(family, SOCK_STREAM, IPPROTO_TCP);
        m_AddressLength = family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
        m_Address.ss_family = family;
        if (family == AF_INET6) {
            ((sockaddr_in6 *)&m_Address)->sin6_addr = in6addr_loopback;
        } else {
            ((sockaddr_in *)&m_Address)->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        }
        if (listener == INVALID_SOCKET || bind(listener, (sockaddr *)&m_Address, m_AddressLength) != 0 ||
            listen(listener, 16) != 0) {
            closesocket(listener);
            return false;
        }
        getsockname(listener, (sockaddr *)&m_Address, &m_AddressLength);
        EXPECT_EQ(StartNetworkForTest(listener, family == AF_INET6), 0);
        return true;
    }
    // A connected non-blocking client, once the layer has accepted it into `slot`.
    SOCKET Connect(int slot)
    {
        SOCKET client = socket(m_Address.ss_family, SOCK_STREAM, IPPROTO_TCP);
        EXPECT_EQ(connect(client, (sockaddr *)&m_Address, m_AddressLength), 0);
        u_long nonBlocking = 1;
        ioctlsocket(client, FIONBIO, &nonBlocking);
        m_Clients.push_back(client);
        EXPECT_TRUE(WaitFor([&] { return Slot(slot) != NULL; })) << "slot " << slot;
        return client;
    }
    EngineHandle Handle(int slot)
    {
        return Slot(slot) != NULL ? Slot(slot)->node.handle : -1;
    }
};

TEST_F(NetworkLoopback, AcceptsIntoTheLowestSlotsWithThePeerAddresses)
{
    for (int family : {AF_INET, AF_INET6}) {
        if (!Start(family)) {
            printf("no loopback for address family %d here: skipped\n", family);
            continue;
        }
        for (int slot : {0, 1}) {
            SOCKET client = Connect(slot);
            sockaddr_storage own = {};
            int length = sizeof own;
            getsockname(client, (sockaddr *)&own, &length);
            const NetWorkRecord *record = Slot(slot);
            const void *address = family == AF_INET6 ? (const void *)&((sockaddr_in6 *)&own)->sin6_addr
                                                     : (const void *)&((sockaddr_in *)&own)->sin_addr;
            EXPECT_EQ(memcmp(family == AF_INET6 ? (const void *)record->peerIpv6 : record->peerIpv4, address,
                             family == AF_INET6 ? 16 : 4),
                      0);
            EXPECT_EQ(record->peerPort, ((sockaddr_in *)&own)->sin_port);
            EXPECT_EQ(record->ipv6, family == AF_INET6);
        }
        EngineHandle old = Handle(0);
        ASSERT_EQ(CloseNetWork(old), 0);
        bool ended = false;
        Receive(m_Clients[m_Clients.size() - 2], 1, &ended);
        EXPECT_TRUE(ended) << "the closed connection's client sees the end";
        Connect(0);
        EXPECT_NE(Handle(0), old) << "a new check number";
        EXPECT_EQ(CloseNetWork(old), -1);
        EXPECT_EQ(RecvSocket(old), -1);
        EXPECT_EQ(TerminateNetwork(), 0);
    }
}

// The record's receive state once `taken` bytes of the stream are in: prefix bytes held, body bytes to come,
// complete bytes.
struct ReceiveState {
    int prefix, remaining, complete;
    bool operator==(const ReceiveState &o) const
    {
        return prefix == o.prefix && remaining == o.remaining && complete == o.complete;
    }
};

ReceiveState ExpectedState(const std::vector<size_t> &sizes, size_t taken)
{
    ReceiveState state = {0, 0, 0};
    for (size_t at = 0, b = 0; b < sizes.size() && taken > at; at += 4 + sizes[b++]) {
        if (taken < at + 4) {
            return {(int)(taken - at), 0, state.complete};
        }
        if (taken < at + 4 + sizes[b]) {
            return {0, (int)(at + 4 + sizes[b] - taken), state.complete};
        }
        state.complete += (int)sizes[b];
    }
    return state;
}

TEST_F(NetworkLoopback, TakesTheBlocksOfTwoClientsAsTheReferenceParses)
{
    ASSERT_TRUE(Start(AF_INET));
    SOCKET clients[2] = {Connect(0), Connect(1)};
    std::vector<size_t> sizes = {0, 1, 2, 3, 4, 5, 255, 256, 257, 4095, 4096, 4097, 65535, 65536, 65537};
    Bytes stream = Stream(sizes, 1), body = ParseBlocks(stream, NETWORK_BLOCK_LIMIT).bodies;
    std::vector<size_t> cuts;
    for (size_t at = 0, b = 0; b < sizes.size(); at += 4 + sizes[b++]) {
        for (size_t cut = at; b < 6 && cut < at + 4 + sizes[b]; cut++) {
            cuts.push_back(cut); // every offset of the first blocks
        }
        cuts.insert(cuts.end(), {at + 3 + sizes[b], at + 5 + sizes[b]}); // both sides of the boundary
    }
    cuts.back() = stream.size();
    for (size_t cut : cuts) {
        for (SOCKET client : clients) {
            SendAll(client, stream.data(), cut);
        }
        ReceiveState expected = ExpectedState(sizes, cut);
        for (int slot : {0, 1}) {
            NetWorkRecord *r = Slot(slot);
            ASSERT_TRUE(WaitFor([&] {
                return ReceiveState{r->receivePrefixCount, r->receiveRemaining, r->receivedCompleteBytes} == expected;
            })) << "cut at "
                << cut << " of slot " << slot;
        }
        for (SOCKET client : clients) {
            SendAll(client, stream.data() + cut, stream.size() - cut);
        }
        for (int slot : {0, 1}) {
            ASSERT_TRUE(WaitFor([&] { return Slot(slot)->receivedCompleteBytes == (int)body.size(); }));
            Bytes taken(body.size());
            EXPECT_EQ(TakeNetworkBytesForTest(Handle(slot), taken.data(), (int)taken.size()), (int)body.size());
            ASSERT_EQ(taken, body) << "cut at " << cut;
        }
    }
    // One write with a 1 MiB block, then the same in random pieces from 1 byte up.
    sizes.push_back(1 << 20);
    stream = Stream(sizes, 2), body = ParseBlocks(stream, NETWORK_BLOCK_LIMIT).bodies;
    std::mt19937 random(3);
    for (bool pieces : {false, true}) {
        for (size_t at = 0; at < stream.size();) {
            size_t piece = pieces ? 1 + random() % (random() % 2 ? 9 : 100000) : stream.size();
            piece = piece < stream.size() - at ? piece : stream.size() - at;
            for (SOCKET client : clients) {
                SendAll(client, stream.data() + at, piece);
            }
            at += piece;
        }
        for (int slot : {0, 1}) {
            Bytes taken;
            ASSERT_TRUE(WaitFor([&] {
                TakeCompleteBytes(Slot(slot), &taken);
                return taken.size() >= body.size();
            }));
            EXPECT_EQ(taken, body) << (pieces ? "random pieces" : "one write");
        }
    }
}

TEST_F(NetworkLoopback, SendsLargeBlocksQueuesTheNextAndRelays)
{
    ASSERT_TRUE(Start(AF_INET));
    SOCKET first = Connect(0), second = Connect(1);
    Bytes large = Stream({8 << 20}, 4), queued = Stream({1000}, 5);
    large.erase(large.begin(), large.begin() + 4), queued.erase(queued.begin(), queued.begin() + 4);
    ASSERT_EQ(QueueNetworkBytesForTest(Handle(0), large.data(), (int)large.size()), 0);
    EXPECT_EQ(SendSocket(Handle(0)), 0);
    EXPECT_GT(Slot(0)->sendRemaining, 0u) << "Winsock takes the block in short sends";
    ASSERT_EQ(QueueNetworkBytesForTest(Handle(0), queued.data(), (int)queued.size()), 0);
    Bytes wire = Receive(first, 8 + large.size() + queued.size());
    Bytes expected = large;
    expected.insert(expected.end(), queued.begin(), queued.end());
    EXPECT_EQ(ParseBlocks(wire, NETWORK_BLOCK_LIMIT).bodies, expected);
    EXPECT_EQ(wire.size(), 8 + expected.size()) << "two blocks";

    Bytes relayed = Stream({3, 70000, 0, 9}, 6), body = ParseBlocks(relayed, NETWORK_BLOCK_LIMIT).bodies;
    SendAll(first, relayed.data(), relayed.size());
    ASSERT_TRUE(WaitFor([&] { return Slot(0)->receivedCompleteBytes == (int)body.size(); }));
    Bytes taken(body.size());
    TakeNetworkBytesForTest(Handle(0), taken.data(), (int)taken.size());
    ASSERT_EQ(QueueNetworkBytesForTest(Handle(1), taken.data(), (int)taken.size()), 0);
    SendSocket(Handle(1));
    wire = Receive(second, 4 + body.size());
    EXPECT_EQ(wire.size(), 4 + body.size()) << "blocks queued together leave as one";
    EXPECT_EQ(ParseBlocks(wire, NETWORK_BLOCK_LIMIT).bodies, body);
}

int CountLogLines(const std::string &part)
{
    int count = 0;
    for (const std::string &line : ReadTestLogLines()) {
        count += line.find(part) != std::string::npos;
    }
    return count;
}

// Each bad peer on slot 1 while a good client on slot 0 goes on sending blocks that arrive.
TEST_F(NetworkLoopback, RefusesBadPeersWithoutStallingTheOthers)
{
    ASSERT_TRUE(Start(AF_INET));
    SOCKET good = Connect(0);
    const char *refusal = "受信データを保存するリングバッファのリサイズに失敗しました(データサイズ ";
    const struct {
        uint32_t length;
        int sent;   // bytes of the stream the peer sends
        int holdMs; // then holds them, or closes (0)
    } cases[] = {
        {0x80000000u, 4, 0}, {0xFFFFFFFFu, 4, 0}, {NETWORK_BLOCK_LIMIT + 1u, 4, 0},
        {100, 1, 0},         {100, 2, 0},         {100, 3, 0},
        {100, 50, 0},        {100, 1, 2000},
    };
    for (const auto &c : cases) {
        SOCKET bad = Connect(1);
        NetWorkRecord *record = Slot(1);
        unsigned char stream[104] = {(unsigned char)c.length, (unsigned char)(c.length >> 8),
                                     (unsigned char)(c.length >> 16), (unsigned char)(c.length >> 24)};
        SendAll(bad, stream, c.sent);
        Bytes block = Stream({(size_t)c.sent}, c.sent);
        SendAll(good, block.data(), block.size());
        ASSERT_TRUE(WaitFor([&] { return Slot(0)->receivedCompleteBytes == c.sent; })) << c.length << "/" << c.sent;
        TakeCompleteBytes(Slot(0), &block);
        if (c.length > NETWORK_BLOCK_LIMIT) {
            // Refused, one line with the length as sent, and the upkeep closes the connection.
            EXPECT_TRUE(WaitFor([&] { return Slot(1) == NULL; }));
            EXPECT_EQ(CountLogLines(refusal + std::to_string(c.length) + " byte)"), 1);
            EXPECT_EQ(CountLogLines("エラーが発生しています"), 0) << "closed without a flush";
            continue;
        }
        ASSERT_TRUE(WaitFor([&] {
            return (record->receiveRemaining ? 104 - record->receiveRemaining : record->receivePrefixCount) == c.sent;
        }));
        if (c.holdMs != 0) {
            int runs = record->receivePumpRuns;
            WaitFor([] { return false; }, c.holdMs);
            EXPECT_LT(record->receivePumpRuns - runs, 10) << "a held prefix byte sets off no stream of reads";
        } else {
            closesocket(bad);
            EXPECT_TRUE(WaitFor([&] { return record->connected == 0; }));
            EXPECT_EQ(RecvSocket(Handle(1)), 0);
            EXPECT_EQ(record->peerEnded, 1) << "the receive flush of the close ends at once";
        }
        EXPECT_EQ(record->receivedCompleteBytes, 0);
        EXPECT_EQ(record->error, 0);
        EXPECT_EQ(CloseNetWork(Handle(1)), 0);
    }
    EXPECT_EQ(CountLogLines(refusal), 3);
}

// A reader on a thread of its own, so that it reads while CloseNetWork flushes.
DWORD WINAPI ReadToTheEnd(void *parameter)
{
    SOCKET client = *(SOCKET *)parameter;
    u_long blocking = 0;
    ioctlsocket(client, FIONBIO, &blocking);
    static Bytes s_Read;
    char buffer[65536];
    for (int got; (got = recv(client, buffer, sizeof buffer, 0)) > 0;) {
        s_Read.insert(s_Read.end(), buffer, buffer + got);
    }
    *(Bytes **)parameter = &s_Read;
    return 0;
}

TEST_F(NetworkLoopback, ClosesWithABoundedFlushAndEndsClean)
{
    ASSERT_TRUE(Start(AF_INET));
    union {
        SOCKET socket;
        Bytes *read;
    } reader = {Connect(0)};
    SOCKET idle = Connect(1);
    Bytes bytes = Stream({2 << 20}, 7);
    ASSERT_EQ(QueueNetworkBytesForTest(Handle(0), bytes.data() + 4, (int)bytes.size() - 4), 0);
    Bytes idleBytes(32 << 20); // more than the sockets' buffers hold
    ASSERT_EQ(QueueNetworkBytesForTest(Handle(1), idleBytes.data(), (int)idleBytes.size()), 0);
    HANDLE thread = CreateThread(NULL, 0, ReadToTheEnd, &reader, 0, NULL);
    EXPECT_EQ(CloseNetWork(Handle(0)), 0);
    ASSERT_EQ(WaitForSingleObject(thread, WAIT_MS), WAIT_OBJECT_0);
    CloseHandle(thread);
    EXPECT_TRUE(*reader.read == bytes) << "every queued byte before the end";

    int allocations = GetAllocationCount();
    DWORD start = GetTickCount();
    EXPECT_EQ(CloseNetWork(Handle(1)), 0);
    DWORD spent = GetTickCount() - start;
    EXPECT_TRUE(spent >= 900 && spent <= 2500) << spent << " ms for a peer that reads nothing";
    EXPECT_EQ(Slot(1), (NetWorkRecord *)NULL);
    EXPECT_EQ(GetAllocationCount(), allocations - 2) << "the record and its send ring";
    (void)idle;

    SOCKET live[2] = {Connect(0), Connect(1)};
    ASSERT_EQ(TerminateNetwork(), 0);
    for (SOCKET client : live) {
        bool ended = false;
        Receive(client, 1, &ended);
        EXPECT_TRUE(ended);
    }
    EXPECT_EQ(CountLogLines("ネットワーク関連の終了処理を行います "), 1);
    EXPECT_EQ(CountLogLines("ネットワーク関連の終了処理は完了しました"), 1);
    static const NetWorkState zero = {};
    EXPECT_EQ(memcmp(&g_NetWorkState, &zero, sizeof zero), 0) << "all zero, the check counter too";
    EXPECT_EQ(TerminateNetwork(), 0);
    EXPECT_EQ(CountLogLines("ネットワーク関連の終了処理を行います "), 1) << "a second end does nothing";
}

} // namespace
