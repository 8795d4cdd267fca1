// The agent's synchronisation objects: the recording lock, the slot lock and the data-available
// event, all living in AgentState.
#pragma once

#include "platform/os.h"

// Creates the two locks and the event on the first call; later calls do nothing. Safe against
// concurrent first calls: a late caller waits until the objects exist.
void InitSyncObjects();

void EnterLock(OsLock* lock);
void LeaveLock(OsLock* lock);

void WaitDataAvailable();   // blocks without time-out
void SignalDataAvailable();
