// The network layer with the engine running and the test start-up on a loopback listener: accepting with the
// peer addresses and slot reuse, the framing from two clients (two writes cut at every early offset and around
// every block boundary, one write, random pieces) against the reference parse, large sends, queueing during a
// send and a relay, bad peers, and the closes and the end. Waits are bounded by generous time, never by counts.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "core/test_log.h"
#include "framing_model.h"
#include "network/network_test_hooks.h"

#include <array>
#include <functional>

namespace
{

bool WaitFor(const std::function<bool()> &done, int ms = 30000)
{
    for (DWORD start = GetTickCount(); !done(); Sleep(1)) {
        if ((int)(GetTickCount() - start) > ms) {
            return false;
        }
        ProcessNetworkMessages(1);
    }
    return true;
}

NetWorkRecord *Slot(int slot)
{
    return g_NetWorkState.slots[slot];
}

EngineHandle Handle(int slot)
{
    return Slot(slot) != NULL ? Slot(slot)->node.handle : -1;
}

// Sends from a non-blocking client while the layer runs on this same thread.
void SendAll(SOCKET client, const unsigned char *bytes, size_t count)
{
    ASSERT_TRUE(WaitFor([&] {
        int sent = count == 0 ? 0 : send(client, (const char *)bytes, (int)count, 0);
        bytes += sent > 0 ? sent : 0, count -= sent > 0 ? sent : 0;
        return count == 0;
    }));
}

// Everything a client receives until `count` bytes are in or the peer ends (then `*ended` is set).
Bytes Receive(SOCKET client, size_t count, bool *ended)
{
    Bytes got;
    WaitFor([&] {
        unsigned char buffer[65536];
        int received = recv(client, (char *)buffer, sizeof buffer, 0);
        *ended = received == 0 || (received < 0 && WSAGetLastError() != WSAEWOULDBLOCK);
        got.insert(got.end(), buffer, buffer + (received > 0 ? received : 0));
        return *ended || got.size() >= count;
    });
    return got;
}

int CountLogLines(const std::string &part)
{
    int count = 0;
    for (const std::string &line : ReadTestLogLines()) {
        count += line.find(part) != std::string::npos;
    }
    return count;
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
        m_AddressLength = sizeof m_Address;
        WSAStringToAddressA((char *)(family == AF_INET6 ? "::1" : "127.0.0.1"), family, NULL, (sockaddr *)&m_Address,
                            &m_AddressLength);
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
};

TEST_F(NetworkLoopback, AcceptsIntoTheLowestSlotsWithThePeerAddresses)
{
    for (int family : {AF_INET, AF_INET6}) {
        if (!Start(family)) {
            printf("no loopback for address family %d here: skipped\n", family);
            continue;
        }
        for (int slot : {0, 1}) {
            sockaddr_storage own = {};
            int length = sizeof own;
            getsockname(Connect(slot), (sockaddr *)&own, &length);
            const NetWorkRecord *record = Slot(slot);
            bool six = family == AF_INET6;
            EXPECT_EQ(memcmp(six ? (const void *)record->peerIpv6 : record->peerIpv4,
                             six ? (const void *)&((sockaddr_in6 *)&own)->sin6_addr : &((sockaddr_in *)&own)->sin_addr,
                             six ? 16 : 4),
                      0);
            EXPECT_EQ(record->peerPort, ((sockaddr_in *)&own)->sin_port);
            EXPECT_EQ(record->ipv6, six);
        }
        EngineHandle old = Handle(0);
        ASSERT_EQ(CloseNetWork(old), 0);
        Connect(0);
        EXPECT_NE(Handle(0), old) << "a new check number";
        EXPECT_EQ(CloseNetWork(old), -1);
        EXPECT_EQ(RecvSocket(old), -1);
        EXPECT_EQ(TerminateNetwork(), 0);
    }
}

// The record's prefix bytes held, body bytes to come and complete bytes once `taken` bytes of the stream are in.
std::array<int, 3> ExpectedState(const std::vector<size_t> &sizes, size_t taken)
{
    int complete = 0;
    for (size_t at = 0, b = 0; b < sizes.size() && taken > at; at += 4 + sizes[b++]) {
        if (taken < at + 4 + sizes[b]) {
            bool inPrefix = taken < at + 4;
            return {inPrefix ? (int)(taken - at) : 0, inPrefix ? 0 : (int)(at + 4 + sizes[b] - taken), complete};
        }
        complete += (int)sizes[b];
    }
    return {0, 0, complete};
}

TEST_F(NetworkLoopback, TakesTheBlocksOfTwoClientsAsTheReferenceParses)
{
    ASSERT_TRUE(Start(AF_INET));
    SOCKET clients[2] = {Connect(0), Connect(1)};
    std::vector<size_t> sizes = {0, 1, 2, 3, 4, 5, 255, 256, 257, 4095, 4096, 4097, 65535, 65536, 65537};
    Bytes stream = Stream(sizes, 1), body = ParseBlocks(stream).bodies;
    std::vector<size_t> cuts;
    for (size_t at = 0, b = 0; b < sizes.size(); at += 4 + sizes[b++]) {
        for (size_t cut = at; b < 6 && cut < at + 4 + sizes[b]; cut++) {
            cuts.push_back(cut); // every offset of the first blocks
        }
        cuts.insert(cuts.end(), {at + 3 + sizes[b], std::min(at + 5 + sizes[b], stream.size())}); // both sides
    }
    for (size_t cut : cuts) {
        for (int slot : {0, 1}) { // the second write held back until the layer took the first in
            NetWorkRecord *r = Slot(slot);
            SendAll(clients[slot], stream.data(), cut);
            ASSERT_TRUE(WaitFor([&] {
                return std::array<int, 3>{r->receivePrefixCount, r->receiveRemaining, r->receivedCompleteBytes} ==
                       ExpectedState(sizes, cut);
            })) << "cut at "
                << cut << " of slot " << slot;
        }
        for (int slot : {0, 1}) {
            SendAll(clients[slot], stream.data() + cut, stream.size() - cut);
            ASSERT_TRUE(WaitFor([&] { return Slot(slot)->receivedCompleteBytes == (int)body.size(); }));
            Bytes taken(body.size());
            EXPECT_EQ(TakeNetworkBytesForTest(Handle(slot), taken.data(), (int)taken.size()), (int)body.size());
            ASSERT_EQ(taken, body) << "cut at " << cut;
        }
    }
    // One write with a 1 MiB block, then the same in random pieces from 1 byte up, both clients interleaved.
    sizes.push_back(1 << 20);
    stream = Stream(sizes, 2), body = ParseBlocks(stream).bodies;
    std::mt19937 random(3);
    for (bool pieces : {false, true}) {
        for (size_t at = 0, piece; at < stream.size(); at += piece) {
            piece = std::min<size_t>(pieces ? 1 + random() % (random() % 2 ? 9 : 100000) : ~0u, stream.size() - at);
            for (SOCKET client : clients) {
                SendAll(client, stream.data() + at, piece);
            }
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
    Bytes sent = Stream({8 << 20, 1000}, 4), expected = ParseBlocks(sent).bodies;
    ASSERT_EQ(QueueNetworkBytesForTest(Handle(0), expected.data(), 8 << 20), 0);
    EXPECT_EQ(SendSocket(Handle(0)), 0);
    EXPECT_GT(Slot(0)->sendRemaining, 0u) << "Winsock takes the block in short sends";
    ASSERT_EQ(QueueNetworkBytesForTest(Handle(0), expected.data() + (8 << 20), 1000), 0);
    bool ended = false;
    EXPECT_EQ(Receive(first, sent.size(), &ended), sent) << "the queued bytes leave as the next block";

    Bytes relayed = Stream({3, 70000, 0, 9}, 6), body = ParseBlocks(relayed).bodies;
    SendAll(first, relayed.data(), relayed.size());
    ASSERT_TRUE(WaitFor([&] { return Slot(0)->receivedCompleteBytes == (int)body.size(); }));
    Bytes taken(body.size());
    TakeNetworkBytesForTest(Handle(0), taken.data(), (int)taken.size());
    ASSERT_EQ(QueueNetworkBytesForTest(Handle(1), taken.data(), (int)taken.size()), 0);
    SendSocket(Handle(1));
    Bytes wire = Receive(second, 4 + body.size(), &ended);
    EXPECT_EQ(wire.size(), 4 + body.size()) << "blocks queued together leave as one";
    EXPECT_EQ(ParseBlocks(wire).bodies, body);
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
        SCOPED_TRACE(std::to_string(c.length) + "/" + std::to_string(c.sent));
        Bytes stream = Stream({(size_t)c.sent}, c.sent);
        memcpy(stream.data(), &c.length, 4);
        SendAll(bad, stream.data(), c.sent);
        SendAll(good, Stream({(size_t)c.sent}, 0).data(), 4 + c.sent);
        ASSERT_TRUE(WaitFor([&] { return Slot(0)->receivedCompleteBytes == c.sent; }));
        TakeCompleteBytes(Slot(0), &stream);
        if (c.length > NETWORK_BLOCK_LIMIT) {
            // Refused, one line with the length as sent, and the upkeep closes the connection without a flush.
            EXPECT_TRUE(WaitFor([&] { return Slot(1) == NULL; }));
            EXPECT_EQ(CountLogLines(refusal + std::to_string(c.length) + " byte)"), 1);
            EXPECT_EQ(CountLogLines("エラーが発生しています"), 0);
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

// A blocking reader on a thread of its own, so that it reads while CloseNetWork flushes.
struct Reader {
    SOCKET client;
    Bytes read;
};
DWORD WINAPI ReadToTheEnd(void *parameter)
{
    Reader *reader = (Reader *)parameter;
    u_long blocking = 0;
    ioctlsocket(reader->client, FIONBIO, &blocking);
    char buffer[65536];
    for (int got; (got = recv(reader->client, buffer, sizeof buffer, 0)) > 0;) {
        reader->read.insert(reader->read.end(), buffer, buffer + got);
    }
    return 0;
}

TEST_F(NetworkLoopback, ClosesWithABoundedFlushAndEndsClean)
{
    ASSERT_TRUE(Start(AF_INET));
    static Reader reader; // outlives a reader thread that a failed wait leaves behind
    reader.client = Connect(0);
    Connect(1);                                              // reads nothing
    Bytes bytes = Stream({2 << 20}, 7), idleBytes(32 << 20); // more than the sockets' buffers hold
    ASSERT_EQ(QueueNetworkBytesForTest(Handle(0), bytes.data() + 4, (int)bytes.size() - 4), 0);
    ASSERT_EQ(QueueNetworkBytesForTest(Handle(1), idleBytes.data(), (int)idleBytes.size()), 0);
    HANDLE thread = CreateThread(NULL, 0, ReadToTheEnd, &reader, 0, NULL);
    EXPECT_EQ(CloseNetWork(Handle(0)), 0);
    ASSERT_EQ(WaitForSingleObject(thread, 30000), WAIT_OBJECT_0) << "the reader sees the end";
    CloseHandle(thread);
    EXPECT_TRUE(reader.read == bytes) << "every queued byte before the end";

    int allocations = GetAllocationCount();
    DWORD start = GetTickCount();
    EXPECT_EQ(CloseNetWork(Handle(1)), 0);
    DWORD spent = GetTickCount() - start; // the flush waits its second, and then gives up
    EXPECT_TRUE(spent >= 900 && spent < 20000) << spent << " ms for a peer that reads nothing";
    EXPECT_EQ(Slot(1), (NetWorkRecord *)NULL);
    EXPECT_EQ(GetAllocationCount(), allocations - 2) << "the record and its send ring";

    SOCKET live[2] = {Connect(0), Connect(1)};
    ASSERT_EQ(TerminateNetwork(), 0);
    for (SOCKET client : live) {
        bool ended = false;
        Receive(client, 1, &ended);
        EXPECT_TRUE(ended) << "each client sees the end";
    }
    EXPECT_EQ(CountLogLines("ネットワーク関連の終了処理を行います "), 1);
    EXPECT_EQ(CountLogLines("ネットワーク関連の終了処理は完了しました"), 1);
    static const NetWorkState zero = {};
    EXPECT_EQ(memcmp(&g_NetWorkState, &zero, sizeof zero), 0) << "all zero, the check counter too";
    EXPECT_EQ(TerminateNetwork(), 0);
    EXPECT_EQ(CountLogLines("ネットワーク関連の終了処理を行います "), 1) << "a second end does nothing";
}

} // namespace
