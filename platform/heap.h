// The process heap as the agent uses it, with a hook that makes a chosen allocation fail.
#pragma once

#include <cstddef>

// malloc/free, unless the failure hook says this allocation fails (then null).
void* MemAlloc(size_t bytes);
void MemFree(void* block);

// Makes the n-th allocation from now fail (n = 1: the next one). 0 switches the hook off.
// Each armed hook fires once.
void MemFailAfter(unsigned long n);
