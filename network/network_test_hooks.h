// Network: what the test programs reach into besides the public contract. Nothing in the program starts the
// network; a test starts it on a listening socket of its own, queues bytes to send and takes whole received
// blocks, and reads the state. Programs never include it. Window thread only.
#pragma once

#include "network/network_internal.h"

// Starts the network as the handle table expects it (Winsock started through the bound entry, a socket-event
// window passing its events on, the sentinels linked, the given listening socket as the record in slot 8192
// with accept events on, the started flag set). The socket is the layer's from then on. 0 / -1.
int StartNetworkForTest(NetSocket listener, int ipv6);
// Queues bytes for the connection's next block; -1 when that block would pass NETWORK_BLOCK_LIMIT.
int QueueNetworkBytesForTest(EngineHandle handle, const void *bytes, int count);
// Takes every received complete byte (whole blocks, in order) and lowers the count: the bytes taken, -1 when the
// handle is refused or the destination is smaller than the complete bytes.
int TakeNetworkBytesForTest(EngineHandle handle, void *destination, int capacity);
