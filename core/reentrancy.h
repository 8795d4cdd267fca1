// The per-thread re-entrancy flag: 1 while the debug event hook runs on the thread.
#pragma once

// The calling thread's flag, created (with value 0) when the thread has none yet.
// Returns null only when the flag cannot be allocated.
unsigned char* CurrentReentrancyFlag();

// The library's thread notifications (only the Win32 backend delivers them).
void AgentThreadAttached();
void AgentThreadDetached();
