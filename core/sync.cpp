#include "core/sync.h"

#include "core/agent_state.h"
#include "platform/atomics.h"

namespace {
constexpr int kSyncNotMade = 0;
constexpr int kSyncMaking = 1;
constexpr int kSyncReady = 2;
}  // namespace

void InitSyncObjects() {
    if (LoadAcquire(g_agent.syncObjectsReady) == kSyncReady) return;
    if (CompareExchange(g_agent.syncObjectsReady, kSyncMaking, kSyncNotMade) != kSyncNotMade) {
        // Another thread is making them: wait until it has published them.
        while (LoadAcquire(g_agent.syncObjectsReady) != kSyncReady) OsYield();
        return;
    }
    // The results are not tested: a lock or event the system refused stays unusable, as on the
    // platform the agent was designed for.
    OsLockInit(&g_agent.recordingLock);
    OsLockInit(&g_agent.slotLock);
    OsEventInit(&g_agent.dataAvailableEvent);
    StoreRelease(g_agent.syncObjectsReady, kSyncReady);
}

void EnterLock(OsLock* lock) { OsLockEnter(lock); }

void LeaveLock(OsLock* lock) { OsLockLeave(lock); }

void WaitDataAvailable() { OsEventWait(&g_agent.dataAvailableEvent); }

void SignalDataAvailable() { OsEventSet(&g_agent.dataAvailableEvent); }
