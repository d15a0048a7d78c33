// The network layer's side of the engine core: the pump's upkeep, the end, and the window procedure's socket
// events. The layer is started by nothing yet (its handle table and pumps come with the network work), so no
// connection exists: upkeep and end return at their first check, and every socket event is an unknown socket.
// Window thread only.
#include "network/network.h"

int ProcessNetworkMessages(int closeEnded)
{
    return 0;
}

int TerminateNetwork(void)
{
    return 0;
}

LRESULT OnNetworkSocketMessage(LPARAM event, WPARAM socket)
{
    AddLog("通信エラー No.1\n");
    return 0;
}
