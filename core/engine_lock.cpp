// The engine call lock: recursive for its owner, and fair: a released lock goes to the thread that has waited
// longest, never to a newcomer. Up to 4,096 threads wait in a queue, each on an event of its own; beyond that a
// thread retries every millisecond. Any thread; one critical section guards the queue.
#include "core/window_state.h"

#include "core/core_test_hooks.h"

#define LOCK_WAITER_LIMIT 4096

struct LockWaiter {
    DWORD threadId;
    HANDLE event;
};

static int s_Created;
static int s_Depth;
static int s_Owned;
static DWORD s_Owner = (DWORD)-1;
static LockWaiter s_Waiters[LOCK_WAITER_LIMIT];
static int s_WaiterCount;
static CRITICAL_SECTION s_Section;
// Two threads entering at once on first use must not both create the lock: the second waits for the first.
// The end of the engine destroys the lock and resets this, so that a later start-up creates it again.
static INIT_ONCE s_CreateOnce = INIT_ONCE_STATIC_INIT;

static BOOL CALLBACK CreateEngineLock(PINIT_ONCE, PVOID, PVOID *)
{
    for (int i = 0; i < LOCK_WAITER_LIMIT; i++) {
        s_Waiters[i].threadId = 0;
        s_Waiters[i].event = CreateEventA(NULL, TRUE, FALSE, NULL);
    }
    InitializeCriticalSection(&s_Section);
    s_Created = 1;
    return TRUE;
}

// The first waiter leaves the queue: the others move up with their events, its event goes to the free end.
static void RemoveFirstWaiter(void)
{
    HANDLE event = s_Waiters[0].event;
    MemMove(&s_Waiters[0], &s_Waiters[1], sizeof(LockWaiter) * (s_WaiterCount - 1));
    s_Waiters[s_WaiterCount - 1].threadId = 0;
    s_Waiters[s_WaiterCount - 1].event = event;
    s_WaiterCount--;
}

int EnterEngineLock(void)
{
    InitOnceExecuteOnce(&s_CreateOnce, CreateEngineLock, NULL, NULL);
    DWORD self = GetCurrentThreadId();
    int queued = 0;
    for (;;) {
        EnterCriticalSection(&s_Section);
        if (s_Owned && s_Owner == self) {
            break;
        }
        if (!s_Owned && (s_WaiterCount == 0 || (s_Waiters[0].threadId == self))) {
            if (queued) {
                RemoveFirstWaiter();
            }
            break;
        }
        if (queued) {
            // Woken but not yet first: wait on the slot this thread now occupies.
            int slot = 0;
            while (slot < s_WaiterCount && s_Waiters[slot].threadId != self) {
                slot++;
            }
            HANDLE event = s_Waiters[slot].event;
            LeaveCriticalSection(&s_Section);
            WaitForSingleObject(event, INFINITE);
            ResetEvent(event);
            continue;
        }
        if (s_WaiterCount >= LOCK_WAITER_LIMIT) {
            LeaveCriticalSection(&s_Section);
            Sleep(1);
            continue;
        }
        int slot = s_WaiterCount++;
        s_Waiters[slot].threadId = self;
        queued = 1;
        HANDLE event = s_Waiters[slot].event;
        LeaveCriticalSection(&s_Section);
        WaitForSingleObject(event, INFINITE);
        ResetEvent(event);
    }
    s_Depth++;
    s_Owned = 1;
    s_Owner = self;
    LeaveCriticalSection(&s_Section);
    return 0;
}

int LeaveEngineLock(void)
{
    if (!s_Created) {
        return -1;
    }
    EnterCriticalSection(&s_Section);
    if (!s_Owned || s_Owner != GetCurrentThreadId()) {
        LeaveCriticalSection(&s_Section);
        return -1;
    }
    int wake = 0;
    HANDLE event = NULL;
    if (s_Depth == 1) {
        s_Owned = 0;
        s_Owner = (DWORD)-1;
        wake = s_WaiterCount > 0;
        event = s_Waiters[0].event;
    }
    s_Depth--;
    LeaveCriticalSection(&s_Section);
    if (wake) {
        SetEvent(event);
        Sleep(0);
    }
    return 0;
}

void DestroyEngineLock(void)
{
    if (!s_Created) {
        return;
    }
    for (int i = 0; i < LOCK_WAITER_LIMIT; i++) {
        CloseHandle(s_Waiters[i].event);
        s_Waiters[i].event = NULL;
        s_Waiters[i].threadId = 0;
    }
    s_Created = 0;
    DeleteCriticalSection(&s_Section);
    InitOnceInitialize(&s_CreateOnce);
}

int GetEngineLockWaiterCount(void)
{
    if (!s_Created) {
        return 0;
    }
    EnterCriticalSection(&s_Section);
    int count = s_WaiterCount;
    LeaveCriticalSection(&s_Section);
    return count;
}

DWORD GetEngineLockOwner(void)
{
    if (!s_Created) {
        return 0;
    }
    EnterCriticalSection(&s_Section);
    DWORD owner = s_Owned ? s_Owner : 0;
    LeaveCriticalSection(&s_Section);
    return owner;
}

int GetEngineLockDepth(void)
{
    return s_Depth;
}
