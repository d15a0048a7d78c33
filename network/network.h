// Network: the network-handle table over Winsock with its accept, receive and send pumps of length-prefixed
// blocks, the upkeep that closes ended connections, and the network end.
// The public contract of the subsystem: the only header other subsystems include. Window thread only.
#pragma once

#include "core/core.h"

#define NETWORK_SOCKET_MESSAGE 0x505  // the message WSAAsyncSelect posts to the socket-event window
#define NETWORK_CONNECTION_SLOTS 8192 // slots 0..8191 hold accepted connections
#define NETWORK_LISTEN_SLOT 8192      // the listening record
// The largest block a connection takes in or sends: a peer's longer length prefix puts it in the error state
// before any memory is reserved for it.
#define NETWORK_BLOCK_LIMIT (64 * 1024 * 1024)

// What the engine core calls: the pump's upkeep (flag 1 also closes ended connections; flag 0 only dispatches
// the socket-event window's messages), the end, and the window procedure's socket events.
int ProcessNetworkMessages(int closeEnded);
int TerminateNetwork(void);
LRESULT OnNetworkSocketMessage(LPARAM event, WPARAM socket);

// Connections: 0 / -1, AcceptNetWork 1 / -1. A handle that fails the check gives -1 without a log line.
int AcceptNetWork(void);
int CloseNetWork(EngineHandle handle);
int CloseNetWorkNoFlush(EngineHandle handle);
int RecvSocket(EngineHandle handle);
int SendSocket(EngineHandle handle);
