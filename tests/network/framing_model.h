// The block framing as a reader of the rule would write it, and a scripted transport, shared by the framing
// tests (Windows and host) and the fuzz target: a reference parse of a byte stream, a stream builder, and a
// transport that hands out a stream in given pieces with refusals and an end, or takes bytes in given amounts.
#pragma once

#include "network/network_internal.h"

#include <string.h>

#include <random>
#include <vector>

typedef std::vector<unsigned char> Bytes;

// The block bodies of a stream up to the first refused length (or the last whole block): their bytes back to
// back, and whether the parse stopped at a refusal.
struct ReferenceParse {
    Bytes bodies;
    bool refused = false;
};

inline ReferenceParse ParseBlocks(const Bytes &stream, size_t limit = NETWORK_BLOCK_LIMIT)
{
    ReferenceParse parse;
    for (size_t at = 0; at + 4 <= stream.size();) {
        size_t length = stream[at] | stream[at + 1] << 8 | stream[at + 2] << 16 | (size_t)stream[at + 3] << 24;
        if (length > limit || stream.size() - at - 4 < length) {
            parse.refused = length > limit;
            break;
        }
        parse.bodies.insert(parse.bodies.end(), stream.begin() + at + 4, stream.begin() + at + 4 + length);
        at += 4 + length;
    }
    return parse;
}

// Blocks of the given sizes with random bodies, back to back.
inline Bytes Stream(const std::vector<size_t> &sizes, unsigned seed)
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

// Each step of the script is an amount: above 0 the most bytes one call moves, 0 a would-block refusal. Once the
// script runs out, every call is refused; the stream's end answers 0 when `ends` is set.
struct ScriptedTransport {
    Bytes stream; // receiving: the peer's bytes; sending: what was taken
    size_t at = 0;
    std::vector<int> script;
    size_t step = 0;
    bool ends = false;

    int Next(int length)
    {
        int amount = step < script.size() ? script[step++] : 0;
        return amount == 0 ? -1 : (amount < length ? amount : length);
    }
    static int Receive(void *context, NetSocket, unsigned char *buffer, int length)
    {
        ScriptedTransport *t = (ScriptedTransport *)context;
        int left = (int)(t->stream.size() - t->at);
        int amount = left == 0 ? (t->ends ? 0 : -1) : t->Next(length < left ? length : left);
        if (amount > 0) {
            memcpy(buffer, t->stream.data() + t->at, amount);
            t->at += amount;
        }
        return amount;
    }
    static int Send(void *context, NetSocket, const unsigned char *buffer, int length)
    {
        ScriptedTransport *t = (ScriptedTransport *)context;
        int amount = t->Next(length);
        if (amount > 0) {
            t->stream.insert(t->stream.end(), buffer, buffer + amount);
        }
        return amount;
    }
    NetTransport Table()
    {
        return {this, Receive, Send, [](void *) { return 0; }};
    }
};

// Takes the complete bytes out of a record's receive ring, as a reader of whole blocks does.
inline void TakeCompleteBytes(NetWorkRecord *record, Bytes *out)
{
    size_t had = out->size();
    out->resize(had + record->receivedCompleteBytes);
    RingBufferRead(&record->receiveRing, out->data() + had, record->receivedCompleteBytes, 0);
    record->receivedCompleteBytes = 0;
}
