// Fuzz target of the network block framing: the input is a script of transport steps (its first byte gives how
// many follow; each is a piece size, 0 a would-block refusal), whether the stream ends, and the peer's bytes.
// The bytes taken out must be the reference parse of what was delivered, up to the first refusal, and every
// pump call must use up a script step or find the transport dry.
#include "framing_model.h"

#include <stdlib.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2) {
        return 0;
    }
    size_t steps = data[0] < size - 2 ? data[0] : size - 2;
    ScriptedTransport transport;
    for (size_t i = 0; i < steps; i++) {
        int step = data[2 + i];
        transport.script.push_back(step < 128 ? step : (step - 127) * 1024);
    }
    transport.ends = data[1] & 1;
    transport.stream.assign(data + 2 + steps, data + size);

    NetTransport table = transport.Table();
    NetWorkRecord record = {};
    Bytes taken;
    int result = 0;
    for (size_t event = 0; result == 0; event++) {
        size_t stepBefore = transport.step, atBefore = transport.at;
        result = PumpReceiveBlocks(&record, &table);
        TakeCompleteBytes(&record, &taken);
        if (transport.step == stepBefore && transport.at == atBefore) {
            break;
        }
        if (event > steps + 1) {
            abort(); // a call that used no step yet found bytes
        }
    }
    Bytes delivered(transport.stream.begin(), transport.stream.begin() + transport.at);
    ReferenceParse expected = ParseBlocks(delivered, NETWORK_BLOCK_LIMIT);
    if (taken != expected.bodies || record.error != (expected.refused ? 1 : 0) || (result == -1) != expected.refused) {
        abort();
    }
    ReleaseNetworkRing(&record.receiveRing);
    if (GetDamagedNetworkRingCount() != 0) {
        abort();
    }
    return 0;
}
