// Network: the network-handle table over Winsock with its accept, receive and send pumps.
// The public contract of the subsystem: the only header other subsystems include.
#pragma once

#include "core/core.h"
