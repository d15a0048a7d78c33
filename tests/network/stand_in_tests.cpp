// The game's case (the network never started: first-check answers, no log line but the unknown socket's), and
// the layer through stand-ins for the bound Winsock entries: prefixes and bodies handed out in scripted pieces
// with a would-block refusal between every two, a body wrapping the ring's end, a prefix send taking 1 then 3
// bytes, and a nested receive refused without touching the socket and run once the running pump has ended.
#include "core/core_test_hooks.h"
#include "core/test_log.h"
#include "framing_model.h"
#include "network/network_test_hooks.h"

namespace
{

const NetSocket LISTENER = 77, PEER = 88;

TEST_F(TestWithLog, NetworkNotStartedGivesTheFirstCheckAnswers)
{
    EngineHandle handle = MakeEngineHandle(HANDLE_TYPE_NETWORK, 0, 0);
    const int answers[][2] = {{AcceptNetWork(), -1},    {CloseNetWork(handle), -1}, {CloseNetWorkNoFlush(handle), -1},
                              {RecvSocket(handle), -1}, {SendSocket(handle), -1},   {ProcessNetworkMessages(1), 0},
                              {TerminateNetwork(), 0}};
    for (const auto &answer : answers) {
        EXPECT_EQ(answer[0], answer[1]);
    }
    EXPECT_EQ(ReadTestLogLines().size(), 0u);
    EXPECT_EQ(OnNetworkSocketMessage(NET_EVENT_READ, 1234), 0);
    EXPECT_EQ(ReadTestLogLines(), std::vector<std::string>{"通信エラー No.1"});
}

ScriptedTransport s_Peer;
std::vector<int> s_Asked; // the lengths the layer offered to send
int s_ReceiveDepth, s_NestedResult, s_NestOnce;

int WINAPI StandInRecv(NetSocket socket, char *buffer, int length, int)
{
    EXPECT_EQ(++s_ReceiveDepth, 1) << "a nested receive must not reach the socket";
    if (s_NestOnce && !(s_NestOnce = 0)) {
        s_NestedResult = RecvSocket(g_NetWorkState.slots[0]->node.handle);
    }
    int received = ScriptedTransport::Receive(&s_Peer, socket, (unsigned char *)buffer, length);
    s_ReceiveDepth--;
    return received;
}
int WINAPI StandInSend(NetSocket socket, const char *buffer, int length, int)
{
    s_Asked.push_back(length);
    return ScriptedTransport::Send(&s_Peer, socket, (const unsigned char *)buffer, length);
}
// The entries that only have to succeed (accept: with the peer's socket).
template <typename Result, Result answer, typename... Arguments> Result WINAPI StandInAnswer(Arguments...)
{
    return answer;
}

class NetworkStandIns : public TestWithLog
{
    void SetUp() override
    {
        TestWithLog::SetUp();
        const std::pair<int, void (*)(void)> standIns[] = {
            {WS2_WSA_STARTUP, (void (*)(void))StandInAnswer<int, 0, WORD, void *>},
            {WS2_WSA_CLEANUP, (void (*)(void))StandInAnswer<int, 0>},
            {WS2_WSA_ASYNC_SELECT, (void (*)(void))StandInAnswer<int, 0, NetSocket, HWND, UINT, long>},
            {WS2_CLOSESOCKET, (void (*)(void))StandInAnswer<int, 0, NetSocket>},
            {WS2_ACCEPT, (void (*)(void))StandInAnswer<NetSocket, PEER, NetSocket, void *, int *>},
            {WS2_SEND, (void (*)(void))StandInSend},
            {WS2_RECV, (void (*)(void))StandInRecv}};
        for (const auto &standIn : standIns) {
            SetBoundEntryForTest(BOUND_WS2_32, standIn.first, (FARPROC)standIn.second);
        }
        ASSERT_EQ(StartNetworkForTest(LISTENER, 0), 0);
        ASSERT_EQ(AcceptNetWork(), 1);
    }
    void TearDown() override
    {
        EXPECT_EQ(TerminateNetwork(), 0);
        for (int index = 0; index < 22; index++) {
            SetBoundEntryForTest(BOUND_WS2_32, index, NULL);
        }
        EXPECT_EQ(GetAllocationCount(), 0);
        TestWithLog::TearDown();
    }
};

TEST_F(NetworkStandIns, ReceivesScriptedPiecesOnePerEvent)
{
    const struct {
        const char *name;
        std::vector<size_t> sizes;
        std::vector<int> pieces; // each followed by a would-block refusal
        bool nest;
        int writeEnd; // the ring's write position at the end: a ring of 1900 bytes wraps the 1500-byte body
    } cases[] = {
        {"prefix 1+3", {10}, {1, 3, 10}, false, 10},
        {"prefix 2+2", {10}, {2, 2, 10}, false, 10},
        {"body in three pieces", {30}, {4, 10, 10, 10}, false, 30},
        {"body wrapping the ring's end", {900, 1500}, {4, 900, 4, 1000, 500}, false, 500},
        {"nested receive refused", {5, 6}, {4, 5, 4, 6}, true, 11},
    };
    for (const auto &c : cases) {
        NetWorkRecord *record = g_NetWorkState.slots[0];
        ReleaseNetworkRing(&record->receiveRing);
        s_Peer = ScriptedTransport();
        s_Peer.stream = Stream(c.sizes, 1);
        for (int piece : c.pieces) {
            s_Peer.script.insert(s_Peer.script.end(), {piece, 0});
        }
        s_NestOnce = c.nest;
        s_NestedResult = 0;
        Bytes taken;
        for (size_t event = 0; event < 2 * c.pieces.size(); event++) { // a short piece leaves its refusal to the next
            EXPECT_EQ(OnNetworkSocketMessage(NET_EVENT_READ, PEER), 1);
            TakeCompleteBytes(record, &taken);
        }
        SCOPED_TRACE(c.name);
        EXPECT_EQ(taken, ParseBlocks(s_Peer.stream).bodies);
        EXPECT_EQ(s_Peer.at, s_Peer.stream.size());
        EXPECT_EQ(record->receiveRing.writePosition, c.writeEnd);
        EXPECT_EQ(s_NestedResult, c.nest ? -1 : 0);
        EXPECT_EQ(record->receivePending, 0) << "the refused call was run";
    }
}

TEST_F(NetworkStandIns, ResendsExactlyTheMissingPrefixBytes)
{
    EngineHandle handle = g_NetWorkState.slots[0]->node.handle;
    s_Peer = ScriptedTransport();
    s_Peer.script = {1, 0, 3, 5};
    ASSERT_EQ(QueueNetworkBytesForTest(handle, "hello", 5), 0);
    EXPECT_EQ(SendSocket(handle), 0);
    EXPECT_EQ(SendSocket(handle), 0);
    // The block is offered whole; after 1 byte exactly the 3 missing prefix bytes are offered again, then the body.
    EXPECT_EQ(s_Asked, (std::vector<int>{9, 3, 3, 5}));
    EXPECT_EQ(ParseBlocks(s_Peer.stream).bodies, (Bytes{'h', 'e', 'l', 'l', 'o'}));
}

} // namespace
