// Network: the block framing and the two pumps that move blocks between a connection's socket and its rings,
// plus the guarded reservation of those rings. Nothing here knows Winsock or window messages: bytes move through
// the transport table the caller gives, so that the host build tests and fuzzes this file as it is.
// Window thread only (the host tests: their one thread).
#include "network/network_internal.h"

#include <string.h>

static_assert(NETWORK_BLOCK_LIMIT > 0 && NETWORK_BLOCK_LIMIT < 0x7FFFFFFF - NETWORK_RING_CANARY_SIZE - 1000,
              "a block and its ring growth fit a signed count");

static int s_DamagedRings;
// What one receive reads. Every byte is handed out to the record before the pump goes on or returns, so nothing
// stays here between calls and one buffer serves every connection (the receive pump never nests).
static unsigned char s_ReadAhead[NETWORK_READ_AHEAD_SIZE];
// A block's prefix and body gathered for one send; used and done with inside that send (the send pump never nests).
static unsigned char s_SendGather[NETWORK_READ_AHEAD_SIZE];

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
    return 0;
}

// Takes up to four bytes into the prefix being assembled; once all four are in, starts the block they announce.
// The bytes used, or -1 when the length is refused.
static int TakePrefixBytes(NetWorkRecord *record, const unsigned char *bytes, int count)
{
    int used = 4 - record->receivePrefixCount < count ? 4 - record->receivePrefixCount : count;
    memcpy(record->receivePrefix + record->receivePrefixCount, bytes, used);
    record->receivePrefixCount += used;
    if (record->receivePrefixCount < 4) {
        return used;
    }
    record->receivePrefixCount = 0;
    const unsigned char *p = record->receivePrefix;
    return StartReceivedBlock(record, p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24) == 0 ? used : -1;
}

// Stores up to the rest of the current block in the ring, in two pieces where it wraps; the bytes used.
static int TakeBodyBytes(NetWorkRecord *record, const unsigned char *bytes, int count)
{
    RingBuffer *ring = &record->receiveRing;
    int used = record->receiveRemaining < count ? record->receiveRemaining : count;
    ResetRingPositionsAtEnd(ring);
    int first = ring->capacity - ring->writePosition < used ? ring->capacity - ring->writePosition : used;
    memcpy(ring->data + ring->writePosition, bytes, first);
    memcpy(ring->data, bytes + first, used - first);
    ring->writePosition = first < used ? used - first : ring->writePosition + used;
    ring->stored += used;
    record->receiveRemaining -= used;
    if (record->receiveRemaining == 0) {
        record->receivedCompleteBytes += record->receiveBlockLength;
    }
    return used;
}

// Hands bytes read from the socket out to prefixes and block bodies in order: 0, or -1 at a refused length.
static int TakeReceivedBytes(NetWorkRecord *record, const unsigned char *bytes, int count)
{
    while (count > 0) {
        int used = record->receiveRemaining == 0 ? TakePrefixBytes(record, bytes, count)
                                                 : TakeBodyBytes(record, bytes, count);
        if (used < 0) {
            return -1;
        }
        bytes += used;
        count -= used;
    }
    return 0;
}

// Each receive takes as much as the socket holds, prefixes and bodies of any number of blocks, so that small
// blocks cost no call each. A short read emptied the socket, and Winsock posts the next read event once more
// arrives, so the pass ends there without asking again.
int PumpReceiveBlocks(NetWorkRecord *record, const NetTransport *transport)
{
    for (;;) {
        int received = ReceiveFrom(record, transport, s_ReadAhead, NETWORK_READ_AHEAD_SIZE);
        if (received <= 0) {
            return 0;
        }
        if (TakeReceivedBytes(record, s_ReadAhead, received) != 0) {
            return -1;
        }
        if (received < NETWORK_READ_AHEAD_SIZE || transport->dispatch(transport->context) != 0) {
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

// Body bytes Winsock took: they leave the ring.
static void TakeSentBody(NetWorkRecord *record, int sent)
{
    RingBuffer *ring = &record->sendRing;
    ring->readPosition += sent;
    ring->stored -= sent;
    record->sendRemaining -= (uint32_t)sent;
}

// A block's first send: the prefix together with its body where the body lies in one piece and fits the gather
// buffer, so that Winsock takes a block in one call instead of two; else the prefix alone.
static int SendPrefixWithBody(NetWorkRecord *record, const NetTransport *transport)
{
    RingBuffer *ring = &record->sendRing;
    ResetRingPositionsAtEnd(ring);
    uint32_t body = record->sendRemaining;
    if (body > sizeof(s_SendGather) - 4 || (int64_t)ring->readPosition + body > ring->capacity) {
        return SendTo(record, transport, record->sendPrefix, 4);
    }
    memcpy(s_SendGather, record->sendPrefix, 4);
    memcpy(s_SendGather + 4, ring->data + ring->readPosition, body);
    return SendTo(record, transport, s_SendGather, (int)body + 4);
}

static int SendBlockPrefix(NetWorkRecord *record, const NetTransport *transport)
{
    while (record->prefixRemaining > 0) {
        int sent = record->prefixRemaining == 4
                       ? SendPrefixWithBody(record, transport)
                       : SendTo(record, transport, record->sendPrefix + 4 - record->prefixRemaining,
                                record->prefixRemaining);
        if (sent <= 0) {
            if (record->prefixRemaining == 4) {
                // Nothing of the block went out: the next call starts it with everything queued by then.
                record->prefixRemaining = 0;
                record->sendRemaining = 0;
            }
            return 0;
        }
        if (sent > record->prefixRemaining) {
            TakeSentBody(record, sent - record->prefixRemaining);
            sent = record->prefixRemaining;
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
        TakeSentBody(record, sent);
    }
    if (ring->stored == 0) {
        // The next block queued into an empty ring then lies in one piece: one send instead of two.
        ring->readPosition = 0;
        ring->writePosition = 0;
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
        // The upkeep runs between blocks, not after the last one: the caller goes back to its messages anyway.
        if (!SendBlockPrefix(record, transport) || !SendBlockBody(record, transport) || record->sendRing.stored == 0 ||
            transport->dispatch(transport->context) != 0) {
            return 0;
        }
    }
}
