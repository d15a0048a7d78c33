// Network: the block framing and the two pumps that move blocks between a connection's socket and its rings,
// plus the guarded reservation of those rings. Nothing here knows Winsock or window messages: bytes move through
// the transport table the caller gives, so that the host build tests and fuzzes this file as it is.
// Window thread only (the host tests: their one thread).
#include "network/network_internal.h"

#include <string.h>

static_assert(NETWORK_BLOCK_LIMIT > 0 && NETWORK_BLOCK_LIMIT < 0x7FFFFFFF - NETWORK_RING_CANARY_SIZE - 1000,
              "a block and its ring growth fit a signed count");

static int s_DamagedRings;

// ---------------------------------------------------------------------------------------------------------------
// Guarded rings.

static unsigned char CanaryByte(int index)
{
    return (unsigned char)(0xA5 ^ (index * 29));
}

static void CheckRingCanary(const RingBuffer *ring)
{
    if (ring->data == NULL) {
        return;
    }
    for (int i = 0; i < NETWORK_RING_CANARY_SIZE; i++) {
        if (ring->data[ring->capacity + i] != CanaryByte(i)) {
            s_DamagedRings++;
            return;
        }
    }
}

// The ring's own growth rule with the guard asked for on top and then hidden behind the capacity.
int ReserveNetworkRing(RingBuffer *ring, int count)
{
    if (count < 0 || count > NETWORK_BLOCK_LIMIT) {
        return -1;
    }
    CheckRingCanary(ring);
    const unsigned char *before = ring->data;
    if (RingBufferReserve(ring, count + NETWORK_RING_CANARY_SIZE) != 0) {
        return -1;
    }
    if (ring->data != before) {
        ring->capacity -= NETWORK_RING_CANARY_SIZE;
        for (int i = 0; i < NETWORK_RING_CANARY_SIZE; i++) {
            ring->data[ring->capacity + i] = CanaryByte(i);
        }
    }
    return 0;
}

void ReleaseNetworkRing(RingBuffer *ring)
{
    CheckRingCanary(ring);
    ReleaseRingBuffer(ring);
}

int GetDamagedNetworkRingCount(void)
{
    return s_DamagedRings;
}

// ---------------------------------------------------------------------------------------------------------------
// Receive pump.

static int ReceiveFrom(NetWorkRecord *record, const NetTransport *transport, unsigned char *buffer, int length)
{
    int received = transport->receive(transport->context, record->socket, buffer, length);
    if (received == 0) {
        record->peerEnded = 1;
    }
    return received > length ? -1 : received;
}

// A length is refused before anything is reserved for it: at 2^31 and above it would be a negative count, and
// above the limit a peer could make the layer reserve any amount.
static int StartReceivedBlock(NetWorkRecord *record, uint32_t length)
{
    if (length > NETWORK_BLOCK_LIMIT || ReserveNetworkRing(&record->receiveRing, (int)length) != 0) {
        record->receiveRemaining = 0;
        record->error = 1;
        return LogFormatLine("受信データを保存するリングバッファのリサイズに失敗しました(データサイズ %u byte)",
                             length);
    }
    record->receiveRemaining = (int)length;
    record->receiveBlockLength = (int)length;
    return 1;
}

// 1 once the whole prefix is in and the ring holds room for the block, 0 while bytes are missing, -1 on refusal.
static int ReceiveBlockPrefix(NetWorkRecord *record, const NetTransport *transport)
{
    while (record->receivePrefixCount < 4) {
        int received = ReceiveFrom(record, transport, record->receivePrefix + record->receivePrefixCount,
                                   4 - record->receivePrefixCount);
        if (received <= 0) {
            return 0;
        }
        record->receivePrefixCount += received;
    }
    record->receivePrefixCount = 0;
    const unsigned char *p = record->receivePrefix;
    return StartReceivedBlock(record, p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24);
}

// Receives what has come of the current block, in at most two pieces around the ring's end; returns the count.
static int ReceiveBlockBody(NetWorkRecord *record, const NetTransport *transport)
{
    RingBuffer *ring = &record->receiveRing;
    int taken = 0;
    while (taken < record->receiveRemaining) {
        ResetRingPositionsAtEnd(ring);
        int wanted = record->receiveRemaining - taken;
        int room = ring->capacity - ring->writePosition;
        wanted = wanted < room ? wanted : room;
        int received = ReceiveFrom(record, transport, ring->data + ring->writePosition, wanted);
        if (received <= 0) {
            break;
        }
        ring->writePosition += received;
        taken += received;
        if (received < wanted) {
            break;
        }
    }
    ring->stored += taken;
    record->receiveRemaining -= taken;
    if (taken > 0 && record->receiveRemaining == 0) {
        record->receivedCompleteBytes += record->receiveBlockLength;
    }
    return taken;
}

int PumpReceiveBlocks(NetWorkRecord *record, const NetTransport *transport)
{
    for (;;) {
        if (record->receiveRemaining == 0) {
            int prefix = ReceiveBlockPrefix(record, transport);
            if (prefix <= 0) {
                return prefix < 0 ? -1 : 0;
            }
        }
        int taken = ReceiveBlockBody(record, transport);
        // A zero-length block ends the pass, as does a block still missing bytes.
        if (transport->dispatch(transport->context) != 0 || taken == 0 || record->receiveRemaining != 0) {
            return 0;
        }
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Send pump. Winsock posts a write event again only after a send refused with would-block, so each step goes on
// until the transport refuses rather than stopping at a short send.

static int SendTo(NetWorkRecord *record, const NetTransport *transport, const unsigned char *buffer, int length)
{
    int sent = transport->send(transport->context, record->socket, buffer, length);
    return sent > length ? -1 : sent;
}

static int SendBlockPrefix(NetWorkRecord *record, const NetTransport *transport)
{
    while (record->prefixRemaining > 0) {
        int sent = SendTo(record, transport, record->sendPrefix + 4 - record->prefixRemaining, record->prefixRemaining);
        if (sent <= 0) {
            if (record->prefixRemaining == 4) {
                // Nothing of the block went out: the next call starts it with everything queued by then.
                record->prefixRemaining = 0;
                record->sendRemaining = 0;
            }
            return 0;
        }
        record->prefixRemaining -= sent;
    }
    return 1;
}

static int SendBlockBody(NetWorkRecord *record, const NetTransport *transport)
{
    RingBuffer *ring = &record->sendRing;
    while (record->sendRemaining > 0) {
        ResetRingPositionsAtEnd(ring);
        int wanted = (int)record->sendRemaining;
        int available = ring->capacity - ring->readPosition;
        wanted = wanted < available ? wanted : available;
        int sent = SendTo(record, transport, ring->data + ring->readPosition, wanted);
        if (sent <= 0) {
            return 0;
        }
        ring->readPosition += sent;
        ring->stored -= sent;
        record->sendRemaining -= (uint32_t)sent;
    }
    return 1;
}

int PumpSendBlocks(NetWorkRecord *record, const NetTransport *transport)
{
    for (;;) {
        if (record->prefixRemaining == 0 && record->sendRemaining == 0) {
            if (record->sendRing.stored == 0) {
                return 0;
            }
            // One block carries everything queued at this moment.
            uint32_t length = (uint32_t)record->sendRing.stored;
            record->sendRemaining = length;
            record->prefixRemaining = 4;
            for (int i = 0; i < 4; i++) {
                record->sendPrefix[i] = (unsigned char)(length >> (8 * i));
            }
        }
        if (!SendBlockPrefix(record, transport) || !SendBlockBody(record, transport) ||
            transport->dispatch(transport->context) != 0) {
            return 0;
        }
    }
}
