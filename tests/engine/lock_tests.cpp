// The engine call lock: recursion by its owner and first-come-first-served hand-over to waiting threads.
#include <gtest/gtest.h>

#include "core/core_test_hooks.h"
#include "core/window_state.h"

namespace
{

struct Contender {
    int name;
    int *order;
    volatile LONG *next;
};

DWORD WINAPI TakeLockAndRecord(LPVOID parameter)
{
    Contender *contender = (Contender *)parameter;
    EnterEngineLock();
    contender->order[InterlockedIncrement(contender->next) - 1] = contender->name;
    LeaveEngineLock();
    return 0;
}

int WaitForWaiters(int count)
{
    for (int i = 0; i < 60000 && GetEngineLockWaiterCount() < count; i++) {
        Sleep(1);
    }
    return GetEngineLockWaiterCount();
}

struct FirstUse {
    HANDLE go;
    volatile LONG inside, overlaps;
};

DWORD WINAPI EnterAtOnce(LPVOID parameter)
{
    FirstUse *shared = (FirstUse *)parameter;
    WaitForSingleObject(shared->go, INFINITE);
    for (int i = 0; i < 50; i++) {
        EnterEngineLock();
        InterlockedExchangeAdd(&shared->overlaps, InterlockedIncrement(&shared->inside) - 1);
        Sleep(0);
        InterlockedDecrement(&shared->inside);
        LeaveEngineLock();
    }
    return 0;
}

} // namespace

TEST(EngineLock, ThreadsMeetingAtItsFirstUseShareOneLock)
{
    for (int round = 0; round < 40; round++) {
        DestroyEngineLock(); // as before the first use in the process
        FirstUse shared = {CreateEventA(NULL, TRUE, FALSE, NULL), 0, 0};
        HANDLE threads[8];
        for (HANDLE &thread : threads) {
            thread = CreateThread(NULL, 0, EnterAtOnce, &shared, 0, NULL);
        }
        SetEvent(shared.go);
        WaitForMultipleObjects(8, threads, TRUE, INFINITE);
        EXPECT_EQ(shared.overlaps, 0) << "round " << round;
        EXPECT_EQ(GetEngineLockDepth() + GetEngineLockWaiterCount(), 0);
    }
}

TEST(EngineLock, WaitingThreadsAcquireInTheOrderTheyArrived)
{
    ASSERT_EQ(EnterEngineLock(), 0);
    int order[3] = {0, 0, 0};
    volatile LONG next = 0;
    Contender contenders[3] = {{'A', order, &next}, {'B', order, &next}, {'C', order, &next}};
    HANDLE threads[3];
    for (int i = 0; i < 3; i++) {
        threads[i] = CreateThread(NULL, 0, TakeLockAndRecord, &contenders[i], 0, NULL);
        ASSERT_EQ(WaitForWaiters(i + 1), i + 1) << "thread " << i << " did not start waiting";
    }
    ASSERT_EQ(LeaveEngineLock(), 0);
    ASSERT_EQ(WaitForMultipleObjects(3, threads, TRUE, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(order[0], 'A');
    EXPECT_EQ(order[1], 'B');
    EXPECT_EQ(order[2], 'C');
    for (HANDLE thread : threads) {
        CloseHandle(thread);
    }
    EXPECT_EQ(GetEngineLockWaiterCount(), 0);
}

TEST(EngineLock, OwnerReentersAndTheWaiterGetsItOnlyAfterTheLastLeave)
{
    ASSERT_EQ(EnterEngineLock(), 0);
    ASSERT_EQ(EnterEngineLock(), 0) << "the owner must not block on itself";
    EXPECT_EQ(GetEngineLockDepth(), 2);
    int order[1] = {0};
    volatile LONG next = 0;
    Contender waiter = {'W', order, &next};
    HANDLE thread = CreateThread(NULL, 0, TakeLockAndRecord, &waiter, 0, NULL);
    ASSERT_EQ(WaitForWaiters(1), 1);
    LeaveEngineLock();
    EXPECT_EQ(WaitForSingleObject(thread, 200), (DWORD)WAIT_TIMEOUT) << "woken after the first of two leaves";
    EXPECT_EQ(next, 0);
    LeaveEngineLock();
    EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(order[0], 'W');
    CloseHandle(thread);
}

TEST(EngineLock, ANewcomerQueuesBehindWaitersWhenTheLockIsFree)
{
    // The owner releases and at once asks again: the thread already waiting must get the lock first.
    ASSERT_EQ(EnterEngineLock(), 0);
    int order[2] = {0, 0};
    volatile LONG next = 0;
    Contender waiter = {'W', order, &next};
    HANDLE thread = CreateThread(NULL, 0, TakeLockAndRecord, &waiter, 0, NULL);
    ASSERT_EQ(WaitForWaiters(1), 1);
    LeaveEngineLock();
    EnterEngineLock();
    order[InterlockedIncrement(&next) - 1] = 'O';
    LeaveEngineLock();
    ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(order[0], 'W');
    EXPECT_EQ(order[1], 'O');
    CloseHandle(thread);
}

TEST(EngineLock, LeavingALockNotHeldIsRefused)
{
    EnterEngineLock();
    LeaveEngineLock();
    EXPECT_EQ(LeaveEngineLock(), -1);
    EXPECT_EQ(GetEngineLockDepth(), 0);
}
