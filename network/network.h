// Network: the network-handle table over Winsock with its accept, receive and send pumps.
// The public contract of the subsystem: the only header other subsystems include.
#pragma once

#include "core/core.h"

// ---------------------------------------------------------------------------------------------------------------
// What the engine core calls. Winsock is never started yet, so each call gives the not-started answer.

#define NETWORK_SOCKET_MESSAGE 0x505 // the message WSAAsyncSelect posts to the main window

int ProcessNetworkMessages(int closeEnded);
int TerminateNetwork(void);
LRESULT OnNetworkSocketMessage(LPARAM event, WPARAM socket);
