// The block framing through a scripted transport, in the Windows build and in the host build under the
// sanitizers: random block streams (the sizes around every power of two the ring meets, bad lengths, ends
// mid-prefix and mid-body) received in random pieces with refusals between them, against the reference parse;
// and random queued bytes sent in random amounts, parsed back from what left.
#include <gtest/gtest.h>

#include "framing_model.h"

namespace
{

size_t BlockSize(std::mt19937 &random)
{
    static const size_t sizes[] = {0, 1, 2, 3, 4, 5, 255, 256, 257, 4095, 4096, 4097, 65535, 65536, 65537};
    return random() % 40 == 0 ? 1 << 20 : sizes[random() % 15];
}

// Pieces from 1 byte up, some of them refusals.
std::vector<int> RandomScript(std::mt19937 &random, size_t total)
{
    std::vector<int> script;
    for (size_t sum = 0; sum < total;) {
        int piece = random() % 4 == 0 ? 0 : 1 + (int)(random() % (random() % 2 ? 8 : 70000));
        script.push_back(piece);
        sum += piece;
    }
    return script;
}

TEST(BlockFraming, ReceivesWhatTheReferenceParses)
{
    const uint32_t badLengths[] = {0x80000000u, 0xFFFFFFFFu, NETWORK_BLOCK_LIMIT + 1u};
    std::mt19937 random(19);
    for (int round = 0; round < 300; round++) {
        ScriptedTransport transport;
        std::vector<size_t> sizes(1 + random() % 8);
        for (size_t &size : sizes) {
            size = BlockSize(random);
        }
        sizes.push_back(9);
        transport.stream = Stream(sizes, random());
        if (random() % 4 == 0) { // the last length refused
            memcpy(&transport.stream[transport.stream.size() - 13], &badLengths[random() % 3], 4);
        }
        if (random() % 3 == 0) { // the peer ends somewhere
            transport.stream.resize(random() % (transport.stream.size() + 1));
            transport.ends = true;
        }
        transport.script = RandomScript(random, transport.stream.size());
        transport.script.insert(transport.script.end(), 64, 1 << 30); // then whatever is left
        NetTransport table = transport.Table();
        NetWorkRecord record = {};
        Bytes taken;
        int result = 0;
        for (size_t at = ~(size_t)0; result == 0 && at != transport.at + transport.step;) {
            at = transport.at + transport.step; // one event while the last one moved bytes or used a step
            result = PumpReceiveBlocks(&record, &table);
            TakeCompleteBytes(&record, &taken);
        }
        ReferenceParse expected = ParseBlocks(transport.stream);
        SCOPED_TRACE(round);
        ASSERT_EQ(taken, expected.bodies);
        EXPECT_EQ(result, expected.refused ? -1 : 0);
        EXPECT_EQ(record.error, expected.refused ? 1 : 0);
        EXPECT_EQ(record.peerEnded, transport.ends && !expected.refused);
        ReleaseNetworkRing(&record.receiveRing);
    }
    EXPECT_EQ(GetDamagedNetworkRingCount(), 0);
}

TEST(BlockFraming, SendsEveryQueuedByteAsBlocks)
{
    std::mt19937 random(7);
    for (int round = 0; round < 200; round++) {
        ScriptedTransport transport;
        NetTransport table = transport.Table();
        NetWorkRecord record = {};
        Bytes queued;
        for (int step = 0; step < 12; step++) {
            size_t size = BlockSize(random) % 70000;
            ASSERT_EQ(ReserveNetworkRing(&record.sendRing, (int)size), 0);
            for (size_t i = 0; i < size; i++) { // queued a byte at a time, wrapping the ring's end as it comes
                queued.push_back((unsigned char)random());
                ResetRingPositionsAtEnd(&record.sendRing);
                record.sendRing.data[record.sendRing.writePosition++] = queued.back();
                record.sendRing.stored++;
            }
            transport.script = RandomScript(random, size + 4);
            transport.step = 0;
            ASSERT_EQ(PumpSendBlocks(&record, &table), 0);
        }
        transport.script.assign(100000, 4096); // short sends, never a refusal: one call sends the rest
        transport.step = 0;
        ASSERT_EQ(PumpSendBlocks(&record, &table), 0);
        SCOPED_TRACE(round);
        EXPECT_EQ(record.sendRing.stored, 0);
        EXPECT_EQ(ParseBlocks(transport.stream).bodies, queued);
        ReleaseNetworkRing(&record.sendRing);
    }
    EXPECT_EQ(GetDamagedNetworkRingCount(), 0);
}

} // namespace
