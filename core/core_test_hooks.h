// Engine core: what the test programs reach into besides the public contract (core.h). Programs never include
// it. Failure injection for the allocator, the random generator's block and path, the millisecond clock's
// source, and counters of state the public calls do not show. Called on the thread that runs the test.
#pragma once

#include "core/core.h"

// Lets the next `count` allocations succeed and makes the one after fail (once); -1 turns it off.
void SetAllocationFailureCountdown(int count);

// How many raises of the finest timer period are still to be lowered.
int GetTimerPeriodRaiseCount(void);

// Replaces the system's millisecond counter under GetNowMilliCount (null puts the system's back), so that a
// clock near its wrap can be tried without waiting weeks for it.
typedef DWORD (*MilliClockSource)(void);
void SetMilliClockSource(MilliClockSource source);

// Random numbers: the 624 tempered outputs of the last block, the read position in it, and the choice of the
// block generator until the next seeding (both give equal blocks; the MMX one only where MMX exists).
const unsigned int *GetRandomBlock(void);
int GetRandomReadIndex(void);
int SetRandomMmxPath(int useMmx);

// Puts a stand-in in place of one bound system entry (kept over engine ends and starts); null takes it away.
int SetBoundEntryForTest(int library, int index, FARPROC entry);

// Message-pump passes begun since the program started, on any thread.
int GetPumpPassCount(void);

// Replaces the processor count that engine start-up reads (0 takes the machine's again), so that the paths for
// one-processor machines can run here.
void SetProcessorCountForTest(int count);

// The engine call lock's waiter count and its owner's depth.
int GetEngineLockWaiterCount(void);
int GetEngineLockDepth(void);

// Menu items read at window creation, mouse presses logged, and whether the system-key hook is in.
int GetMenuItemRecordCount(void);
int GetMouseLogCount(void);
int IsSystemKeyHookInstalled(void);
